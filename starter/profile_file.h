// The Windows profile format of "start.ini": "[section]" lines open sections, "name=value" lines hold
// values. Reading follows GetPrivateProfileString, writing WritePrivateProfileString; a write
// replaces the whole file atomically, so a crash never leaves a half-written file behind.
#pragma once

#include <string>
#include <string_view>

namespace zolm::starter {

// Longest value a read returns (the 2048-byte read buffer of the original, less its NUL).
constexpr size_t kMaxProfileValue = 2047;

// Reading rules, on the text of a file:
// - a UTF-8 byte order mark at the start is skipped; lines end with LF, CR LF or CR;
// - names of sections and keys are compared without regard to ASCII case, white space around them
//   ignored;
// - the first matching key in file order counts (a section named twice is searched in both);
//   lines starting with ";" and lines without "=" hold no value; lines before the first section
//   belong to none;
// - the value is trimmed of white space (control characters stay), one pair of matching quotes (" or ') around it is dropped, it
//   ends at a NUL byte, and it is cut to kMaxProfileValue bytes (never inside a UTF-8 character).
// Returns def (cut the same way) when the key is not there.
std::string ProfileGetString(std::string_view content, std::string_view section, std::string_view name,
                             std::string_view def);

// The text with name=value stored in section, every other line kept byte for byte: an existing key
// is replaced in place (the line keeps its name and line end), a new key goes after the section's
// last non-blank line, a new section is appended to the text. New lines end like the file's first
// line (CR LF or LF). The caller makes sure section, name and value hold no line break.
std::string ProfileSetString(std::string_view content, std::string_view section, std::string_view name,
                             std::string_view value);

// ProfileGetString on the file at path; a file that is missing or unreadable reads as empty.
std::string ReadProfileString(const std::string &path, std::string_view section, std::string_view name,
                              std::string_view def);

// Stores name=value in the file at path (created when missing): the new text goes to a temporary
// file in the same folder, is flushed to disk and renamed over the file (through a symbolic link to
// its target), keeping the file's mode. Returns false with errno set when the file cannot be read,
// the file itself is not writable for the process, or the folder cannot be written; the file is
// then unchanged.
bool WriteProfileString(const std::string &path, std::string_view section, std::string_view name,
                        std::string_view value);

}  // namespace zolm::starter
