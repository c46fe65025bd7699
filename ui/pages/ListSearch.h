#pragma once
// How a page's list finds an item: by exact name, or by the first name that
// begins with the typed text, ignoring case (ASCII letters). Pure; any thread.
#include <string>
#include <vector>

// Index of the first match in `names`, or -1.
int FindListName(const std::vector<std::string>& names, const std::string& text, bool prefix);
