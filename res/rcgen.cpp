// Build-time generator: reads the resource script and its id header and writes the C++ tables
// of strings, dialogs and the default version text that the POSIX layer serves.
// Usage: rcgen RESOURCE_SCRIPT ID_HEADER OUTPUT_CPP
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "format/layout.h"

namespace {

struct Token {
  enum Kind { kWord, kNumber, kString, kPunct, kEnd } kind;
  std::string text;
};

[[noreturn]] void Fail(const std::string& message) {
  (void)std::fprintf(stderr, "rcgen: %s\n", message.c_str());
  std::exit(1);  // NOLINT(concurrency-mt-unsafe): a single-threaded build tool
}

std::string ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail(std::string("cannot read ") + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Tokenises resource-script text, dropping comments and preprocessor lines.
std::vector<Token> Tokenize(const std::string& src) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  bool line_start = true;
  while (i < src.size()) {
    const char c = src[i];
    if (c == '\n') { line_start = true; ++i; continue; }
    if (std::isspace(static_cast<unsigned char>(c))) { ++i; continue; }
    if (line_start && c == '#') { while (i < src.size() && src[i] != '\n') ++i; continue; }
    line_start = false;
    if (src.compare(i, 2, "//") == 0) { while (i < src.size() && src[i] != '\n') ++i; continue; }
    if (src.compare(i, 2, "/*") == 0) {
      const std::size_t end = src.find("*/", i + 2);
      if (end == std::string::npos) Fail("unterminated comment");
      i = end + 2;
      continue;
    }
    if (c == '"') {
      std::string text;
      ++i;
      for (;;) {
        if (i >= src.size()) Fail("unterminated string");
        const char d = src[i++];
        if (d == '"') {
          if (i < src.size() && src[i] == '"') { text += '"'; ++i; continue; }
          break;
        }
        if (d != '\\') { text += d; continue; }
        const char e = src[i++];
        switch (e) {
          case 'n': text += '\n'; break;
          case 't': text += '\t'; break;
          case '0': text += '\0'; break;
          case '\\': text += '\\'; break;
          case '"': text += '"'; break;
          default: Fail(std::string("unknown escape \\") + e);
        }
      }
      tokens.push_back({Token::kString, text});
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '-' && i + 1 < src.size() && std::isdigit(static_cast<unsigned char>(src[i + 1])))) {
      std::size_t j = i + 1;
      while (j < src.size() && std::isalnum(static_cast<unsigned char>(src[j]))) ++j;
      tokens.push_back({Token::kNumber, src.substr(i, j - i)});
      i = j;
      continue;
    }
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      std::size_t j = i + 1;
      while (j < src.size() && (std::isalnum(static_cast<unsigned char>(src[j])) || src[j] == '_')) ++j;
      tokens.push_back({Token::kWord, src.substr(i, j - i)});
      i = j;
      continue;
    }
    tokens.push_back({Token::kPunct, std::string(1, c)});
    ++i;
  }
  tokens.push_back({Token::kEnd, ""});
  return tokens;
}

class Parser {
 public:
  Parser(std::vector<Token> tokens, std::map<std::string, long> defines)
      : tokens_(std::move(tokens)), defines_(std::move(defines)) {}

  const Token& Peek(std::size_t ahead = 0) const {
    return tokens_[pos_ + ahead < tokens_.size() ? pos_ + ahead : tokens_.size() - 1];
  }
  Token Next() { Token t = Peek(); if (pos_ < tokens_.size() - 1) ++pos_; return t; }
  bool AtWord(const char* w) const { return Peek().kind == Token::kWord && Peek().text == w; }
  void SkipComma() { if (Peek().kind == Token::kPunct && Peek().text == ",") Next(); }

  // A number or a #defined name.
  bool IsValue(const Token& t) const { return t.kind == Token::kNumber || (t.kind == Token::kWord && defines_.count(t.text)); }
  long Value(const Token& t) const {
    if (t.kind == Token::kNumber) return std::strtol(t.text.c_str(), nullptr, 0);
    auto it = defines_.find(t.text);
    if (it == defines_.end()) Fail("unknown name " + t.text);
    return it->second;
  }
  long NextValue() { return Value(Next()); }

  // Skips a style expression: words, numbers and '|' up to the next ',' or line-level keyword.
  void SkipStyle() {
    while (Peek().kind == Token::kWord || Peek().kind == Token::kNumber || (Peek().kind == Token::kPunct && Peek().text == "|")) {
      if (Peek().kind == Token::kWord && IsKeyword(Peek().text)) break;
      Next();
    }
  }
  static bool IsKeyword(const std::string& w) {
    return w == "CAPTION" || w == "FONT" || w == "STYLE" || w == "EXSTYLE" || w == "BEGIN" || w == "LANGUAGE" ||
           w == "CLASS" || w == "MENU";
  }

 private:
  std::vector<Token> tokens_;
  std::size_t pos_ = 0;
  std::map<std::string, long> defines_;
};

struct Control {
  long id;
  std::string class_name, text;
  long x, y, w, h;
};
struct Dialog {
  long id;
  std::string caption, font_face;
  long font_size = 8, x, y, w, h;
  std::vector<Control> controls;
};

std::string Literal(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') { out += '\\'; out += static_cast<char>(c); }
    else if (c == '\n') out += "\\n";
    else if (c < 0x20 || c >= 0x7F) { char buf[8]; (void)std::snprintf(buf, sizeof buf, "\\%03o", c); out += buf; }
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) Fail("usage: rcgen RESOURCE_SCRIPT ID_HEADER... OUTPUT_CPP");
  const char* output = argv[argc - 1];
  std::map<std::string, long> defines;
  // The ids the script uses come from every header given (the script's own, the set format's).
  for (int h = 2; h < argc - 1; ++h) {
    std::istringstream header(ReadFile(argv[h]));
    std::string line;
    while (std::getline(header, line)) {
      std::istringstream words(line);
      std::string directive, name;
      long value;
      if (words >> directive >> name >> value && directive == "#define") defines[name] = value;
    }
  }
  Parser p(Tokenize(ReadFile(argv[1])), defines);
  std::vector<std::pair<long, std::string>> strings;
  std::vector<Dialog> dialogs;
  std::string version;

  while (p.Peek().kind != Token::kEnd) {
    if (p.AtWord("STRINGTABLE")) {
      p.Next();
      while (!p.AtWord("BEGIN")) p.Next();
      p.Next();
      while (!p.AtWord("END")) {
        long id = p.NextValue();
        p.SkipComma();
        Token text = p.Next();
        if (text.kind != Token::kString) Fail("string expected in STRINGTABLE");
        strings.push_back({id, text.text});
      }
      p.Next();
    } else if (p.IsValue(p.Peek()) && p.Peek(1).kind == Token::kWord &&
               (p.Peek(1).text == "DIALOG" || p.Peek(1).text == "DIALOGEX")) {
      Dialog d;
      d.id = p.NextValue();
      p.Next();
      d.x = p.NextValue(); p.SkipComma();
      d.y = p.NextValue(); p.SkipComma();
      d.w = p.NextValue(); p.SkipComma();
      d.h = p.NextValue();
      while (!p.AtWord("BEGIN")) {
        Token t = p.Next();
        if (t.kind == Token::kWord && t.text == "CAPTION") d.caption = p.Next().text;
        if (t.kind == Token::kWord && t.text == "FONT") {
          d.font_size = p.NextValue();
          p.SkipComma();
          d.font_face = p.Next().text;
        }
      }
      p.Next();
      while (!p.AtWord("END")) {
        Token kind = p.Next();
        Control c;
        if (kind.text == "CONTROL") {
          Token text = p.Next();
          c.text = text.kind == Token::kString ? text.text : "#" + std::to_string(p.Value(text));
          p.SkipComma();
          c.id = p.NextValue(); p.SkipComma();
          c.class_name = p.Next().text; p.SkipComma();
          p.SkipStyle(); p.SkipComma();
        } else if (kind.text == "LTEXT" || kind.text == "CTEXT" || kind.text == "RTEXT") {
          c.class_name = "Static";
          c.text = p.Next().text; p.SkipComma();
          c.id = p.NextValue(); p.SkipComma();
        } else {
          Fail("unsupported dialog control " + kind.text);
        }
        c.x = p.NextValue(); p.SkipComma();
        c.y = p.NextValue(); p.SkipComma();
        c.w = p.NextValue(); p.SkipComma();
        c.h = p.NextValue();
        if (p.Peek().kind == Token::kPunct && p.Peek().text == ",") { p.Next(); p.SkipStyle(); }
        d.controls.push_back(c);
      }
      p.Next();
      dialogs.push_back(d);
    } else if (p.IsValue(p.Peek()) && p.Peek(1).kind == Token::kWord && p.Peek(1).text == payload::kResourceType) {
      long id = p.NextValue();
      p.Next();
      while (!p.AtWord("BEGIN")) p.Next();
      p.Next();
      if (id == defines["IDR_VERSION"] && p.Peek().kind == Token::kString) version = p.Peek().text;
      while (!p.AtWord("END")) p.Next();
      p.Next();
    } else {
      p.Next();
    }
  }
  if (version.size() > payload::kVersionResourceSize) Fail("the version text is longer than resource 105 holds");
  version.resize(payload::kVersionResourceSize, '\0');

  std::ostringstream out;
  out << "// Generated by rcgen from the resource script; do not edit.\n#include \"res/rcdata.h\"\n\nnamespace rcdata {\n\n";
  out << "const String kStrings[] = {\n";
  for (auto& [id, text] : strings) out << "    {" << id << ", " << Literal(text) << "},\n";
  out << "};\nconst int kStringCount = " << strings.size() << ";\n\n";
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    out << "static const Control kControls" << i << "[] = {\n";
    for (auto& c : dialogs[i].controls)
      out << "    {" << c.id << ", " << Literal(c.class_name) << ", " << Literal(c.text) << ", " << c.x << ", " << c.y
          << ", " << c.w << ", " << c.h << "},\n";
    out << "};\n";
  }
  out << "const Dialog kDialogs[] = {\n";
  for (std::size_t i = 0; i < dialogs.size(); ++i) {
    const Dialog& d = dialogs[i];
    out << "    {" << d.id << ", " << Literal(d.caption) << ", " << Literal(d.font_face) << ", " << d.font_size << ", "
        << d.x << ", " << d.y << ", " << d.w << ", " << d.h << ", kControls" << i << ", " << d.controls.size() << "},\n";
  }
  out << "};\nconst int kDialogCount = " << dialogs.size() << ";\n\n}  // namespace rcdata\n\n";
  // The Linux launcher's custom resources: the record's tag, an unstamped payload offset, and
  // the script's version text.
  out << "extern \"C\" __attribute__((section(\"" << payload::kElfSectionName
      << "\"), used)) const volatile rcdata::ResourceRecord\n    qmr_resource_record = {{";
  for (char c : payload::kElfRecordTag) out << static_cast<int>(c) << ", ";
  out << "}, {";
  for (int i = 0; i < payload::kOffsetResourceSize; ++i) out << ((payload::kUnstampedOffset >> (8 * i)) & 0xFF) << ", ";
  out << "}, {";
  for (char c : version) out << static_cast<int>(static_cast<unsigned char>(c)) << ", ";
  out << "}};\n";

  std::ofstream file(output, std::ios::binary);
  file << out.str();
  if (!file) Fail(std::string("cannot write ") + output);
  return 0;
}
