#pragma once

#include <exception>
#include <string>
#include <utility>

namespace lumaro {

// Base of every error the library throws. `what()` is the error's description,
// the text the command line prints on one line of standard error.
class Error : public std::exception {
public:
    explicit Error(std::string description) : description_(std::move(description)) {}
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string description_;
};

}  // namespace lumaro
