#pragma once
// Access to one INI settings file, read and written key by key, with the behaviour of the
// Windows private-profile functions that the program relies on.
//
// Format as read:
//   - Lines end with LF; a CR just before the LF is part of the line ending (CR LF files
//     and LF files are both read). The last line may have no ending. A lone CR elsewhere
//     is an ordinary byte.
//   - Blanks are spaces and tabs.
//   - A line whose first non-blank byte is '[' is a section header; the section name is
//     what follows the '[' up to the first ']' (to the end of the line when there is
//     none), blanks trimmed. Anything after the ']' is ignored.
//   - A line whose first non-blank byte is ';' is a comment.
//   - Any other line holding '=' is a key line: the name is what stands before the first
//     '=', the value what follows it, both with blanks trimmed. Quotes are not special:
//     a value reads back as it was written.
//   - Other lines (no '='), and lines before the first section header, are ignored.
//   - Section and key names match without regard to ASCII letter case. When a section or
//     a key occurs twice, the first one is used, for reading and writing alike.
//   - Values are bytes (Windows-1252 in our settings), passed through unconverted.
//
// Reading (ReadString):
//   - The default comes back only when the file cannot be read, the section is missing
//     or the key is missing; a key present with an empty value reads as empty.
//   - The result is cut to 2047 bytes (the 2048-byte buffer of the Windows functions, its
//     last byte for the terminating zero); a default longer than that is cut too, as
//     Windows copies it through the same buffer.
//   - Reading never creates or changes anything.
//
// Writing (WriteString) goes to disk at once, one whole file per call:
//   - The first key line of that name in the first section of that name is replaced by
//     "key=value" (name as passed). Otherwise the key line is added after the last key
//     line of the section (right after its header when it has none). Otherwise a header
//     "[section]" and the key line are added at the end of the file. The file is created
//     when missing.
//   - Every other line of the file stays byte for byte as it was, line endings included;
//     only a last line without a line ending gets one when a line is added after it.
//   - New lines take the line ending of the file's first line (CR LF or LF); a new file,
//     or one with no line ending yet, gets CR LF, the ending of Windows settings files.
//   - A value holds one line: a value to write that contains a CR, an LF or a NUL is cut
//     there, so no value can break the file into extra lines, keys or sections. Blanks
//     around a value are written but, as with Windows, not read back.
//   - The file is never left half-written: the new content goes to a temporary file in
//     the same folder, is flushed to disk, takes the old file's permissions (and owner
//     where allowed), and is renamed over the old file. A path that is a symbolic link is
//     written through to the file it names.
//   - Read-only is checked from the permission bits, so it holds also for the super-user,
//     who ignores them otherwise: a file without any write bit is read-only (like the
//     Windows read-only attribute), and a folder without any write bit accepts no new
//     file and no rename. A read-only file or folder, a missing folder, an existing file
//     that cannot be read (it would be lost) or any failing system call raises
//     EIniFileException "Impossible d'écrire dans <path>", the path as given.
//   - Section and key names must be non-empty, without blanks at either end and without
//     CR, LF or NUL; a section name without ']', a key name without '=' and not starting
//     with '[' or ';'. Other names are a programming error (std::invalid_argument).
//
// Nothing is cached: every call reads the file afresh, so there is nothing to flush when
// the object goes away. The file is not locked against other programs.
#include <stdexcept>
#include <string>

#include "platform/bytes.h"

class EIniFileException : public std::runtime_error {
 public:
  explicit EIniFileException(const std::string& message) : std::runtime_error(message) {}
};

class TIniFile {
 public:
  // `path` is the full path of the file (UTF-8), used as given.
  explicit TIniFile(std::string path);

  Bytes ReadString(const Bytes& section, const Bytes& key, const Bytes& defaultValue) const;
  void WriteString(const Bytes& section, const Bytes& key, const Bytes& value);

  const std::string& FileName() const { return path_; }

  // The longest value ReadString returns.
  static constexpr std::size_t kMaxValueLength = 2047;

 private:
  std::string path_;
};
