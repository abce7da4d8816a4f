// A command line for the parsers: argv[0] is the program's name, and the
// vector ends with a null pointer as main's does.
#pragma once

#include <string>
#include <vector>

class ArgumentVector {
public:
    explicit ArgumentVector(const std::vector<const char*>& arguments)
    {
        words_.push_back("shallow-water");
        words_.insert(words_.end(), arguments.begin(), arguments.end());
        for (const std::string& word : words_) pointers_.push_back(word.c_str());
        pointers_.push_back(nullptr);
    }

    ArgumentVector(const ArgumentVector&) = delete;  // argv points into words_
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    int argc() const { return static_cast<int>(words_.size()); }
    const char* const* argv() const { return pointers_.data(); }

private:
    std::vector<std::string> words_;
    std::vector<const char*> pointers_;
};
