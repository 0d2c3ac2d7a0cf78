#pragma once
// Within the web-shop module: what the reading of package.id needs to know of its text,
// besides DecodeFirstLine (mod_WebShop.h).

#include <cstddef>
#include <string>

// True when the first line of `bytes`, a file's leading bytes as DecodeFirstLine takes them,
// ends within them. The bytes before `from` are known to hold no line end: scanning resumes
// there (moved back onto a code-unit boundary in UTF-16 text).
bool FirstLineEnded(const std::string& bytes, std::size_t from);
