#pragma once
// Reading of the settings tables (config.txt, filter.txt, ventola.txt): text lines with a
// length limit, "\n" then "\r" removed, ";" beginning a comment line, numbers separated
// by white space.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The lines of a settings file (real-system path), each cut to maxLength characters; a
// longer line stays one line (its rest is dropped, never read as a line of its own).
// False when the file cannot be opened.
bool readTableLines(std::string_view absPath, size_t maxLength, std::vector<std::string>& lines);
// The same from text already in memory.
std::vector<std::string> splitTableLines(std::string_view text, size_t maxLength);
bool isCommentLine(const std::string& line);

// Reads the numbers of one line in order; a missing or malformed number reads as 0.
class NumberCursor {
public:
    explicit NumberCursor(std::string line) : line_(std::move(line)), p_(line_.c_str()) {}
    NumberCursor(const NumberCursor&) = delete;
    NumberCursor& operator=(const NumberCursor&) = delete;
    // Integer in the base the text shows: decimal, hexadecimal with 0x, octal with a leading 0.
    uint32_t nextUnsigned();
    int32_t nextInt();
    // A floating-point number; anything not finite reads as 0.
    float nextFloat();

private:
    std::string line_;
    const char* p_;
};
