#pragma once
// The dialog string store: a list of "NAME=text" lines, looked up by name.

#include <string>
#include <vector>

class TStrData {
public:
    std::vector<std::string> Lines;

    void Clear() { Lines.clear(); }
    void Add(const std::string& line) { Lines.push_back(line); }

    // The text after the first '=' of the first line whose name is `name`; empty when absent.
    std::string Value(const std::string& name) const {
        for (const std::string& line : Lines) {
            const auto eq = line.find('=');
            if (eq != std::string::npos && line.compare(0, eq, name) == 0 && eq == name.size())
                return line.substr(eq + 1);
        }
        return {};
    }
};
