#pragma once

#include <string>
#include <vector>

namespace kestrune {

// An undo stack: full paths of working files, top first, no size limit. Destroying it leaves the
// files on disk; Clear deletes them.
class TStack {
  public:
    TStack() = default;
    TStack(const TStack&) = delete;
    TStack& operator=(const TStack&) = delete;

    void Push(const std::string& name);
    // Removes and returns the top name; an empty string when the stack is empty.
    std::string Pop();
    bool IsEmpty() const noexcept { return names.empty(); }
    std::size_t Count() const noexcept { return names.size(); }
    // The listed names, top first.
    std::vector<std::string> Names() const { return {names.rbegin(), names.rend()}; }
    // Deletes every listed file from the top down (a file that cannot be deleted is skipped
    // silently), then empties the list.
    void Clear();

  private:
    std::vector<std::string> names;  // the top is the back
};

}  // namespace kestrune
