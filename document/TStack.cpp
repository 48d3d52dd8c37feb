#include "document/TStack.h"

#include <unistd.h>

namespace kestrune {

void TStack::Push(const std::string& name) {
    names.push_back(name);
}

std::string TStack::Pop() {
    if (names.empty()) return {};
    std::string top = std::move(names.back());
    names.pop_back();
    return top;
}

void TStack::Clear() {
    for (auto it = names.rbegin(); it != names.rend(); ++it) ::unlink(it->c_str());
    names.clear();
}

}  // namespace kestrune
