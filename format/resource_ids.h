/* Ids of the launcher's two custom resources (type CUSTOMDATA), which locate volume 1 and name
   the version. Plain preprocessor definitions: the resource script includes this file too. */
#pragma once

#define IDR_PAYLOAD_OFFSET 104 /* 4 bytes: file offset of volume 1, signed 32-bit little-endian */
#define IDR_VERSION 105        /* 16 bytes: NUL-terminated version text */
