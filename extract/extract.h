// The extraction subsystem: the volume sequence, the extraction engine and the setup hand-off.
// Every procedure works on the run state (g_run) and reaches the system through Sys().
// Procedures return 1 for success and 0 for failure, or a file handle that is
// INVALID_HANDLE_VALUE on failure.
#pragma once

#include "extract/state.h"

// ---- Shared helpers ----

// Replaces the last component of a run-state text (260 bytes) with `name`, walking by
// characters of the ANSI code page. Returns 0, leaving the path unchanged, when the result
// would not fit.
int ReplaceFileName(char* path, const char* name);

// The bytes of custom resource `id` of the launcher and their count in *size, or null when the
// resource cannot be found, loaded or locked.
const void* LockCustomResource(int id, DWORD* size);

// Reads up to n bytes. Returns the count read, or 0 when the read fails.
DWORD ReadBlock(HANDLE file, void* buffer, DWORD n);

// Writes n bytes. Returns 1 only when the write succeeds and wrote all n bytes.
int WriteBlock(HANDLE file, const void* buffer, DWORD n);

// ---- Volume sequence ----

// Opens the next volume of the set (counting the volume number up first), positioned just
// after its set total. Volume 1 lies inside the launcher at the payload offset; volume n >= 2
// is "Disk<n>" beside it, and the user is asked to insert its disk while it is missing or
// belongs to another set. Returns INVALID_HANDLE_VALUE when no volume could be opened; the
// user-cancelled flag then tells whether the user chose to stop.
HANDLE OpenNextVolume();

// Opens the following volume at the module path and checks that its set total is the set's.
// Returns the file positioned after the set total, or INVALID_HANDLE_VALUE (closed).
HANDLE OpenVolumeFile();

// Reads up to n bytes of the open volume, never past its end: volume 1 of a signed launcher
// ends where the certificate table begins. Returns the count read, or 0 when the read fails.
DWORD ReadVolumeBlock(HANDLE volume, void* buffer, DWORD n);

// Reads the name-length byte that opens the volume's next entry. Returns 0 when the volume has
// ended instead: its end is reached, the read fails, or all that is left of volume 1 of a
// signed launcher is the zero bytes that align the certificate table.
int ReadEntryStart(HANDLE volume, BYTE* name_length);

// ---- Extraction engine ----

// Extracts every volume into the temporary directory, then hands over to the setup program.
// Returns 1 when the setup program was started, 0 on failure. On failure nothing is deleted
// here: the files created are in the clean-up list, which the dialog deletes.
int ExtractAndLaunch();

// Sets the progress bar when the whole percentage of extracted bytes has grown.
void ReportProgress();

// Takes a file off the run's clean-up list, in whatever spelling it was listed: for a file the
// run has deleted itself, so that the clean-up does not delete its name again (another file of
// that name could be there by then, in another spelling, that the run never wrote).
void UnlistFile(const char* path);

// Deletes every path of a clean-up list (at most kCleanupListSize bytes), in order, skipping
// any that cannot be deleted.
void DeleteListedFiles(const char* list);

// ---- Setup hand-off ----

// Expands `compressed` into `expanded`, both plain names in the temporary directory, and
// deletes the compressed file. Returns 0 when the compressed file is missing, an open fails,
// or the expansion does not yield the whole announced length (the partial expanded file is
// deleted, the compressed one kept for the clean-up).
int ExpandSetupFile(const char* compressed, const char* expanded);

// 1 when the file can be opened with no access rights, 0 otherwise.
int FileExists(const char* path);

// Writes the non-empty account presets into the expanded setup information file.
void WritePresets();

// Starts the expanded setup program with its quoted path as the command line. Returns 1 when
// it was started, 0 when it could not be.
int LaunchSetup();
