#pragma once

#include "downloads/queue.h"

#include <string>
#include <string_view>
#include <vector>

// The store of the downloads list: a header line, then one line per download with its fields separated by TABs
// (a TAB, CR, LF and backslash inside a field written as \t, \r, \n and \\):
//   kavo-downloads 1
//   ID STATE SHARE FOLDER FILE NAME SIZE RECEIVED SHA256 LINK REASON
// STATE is waiting, running, paused, finished or failed; FOLDER and FILE are paths as the file system spells
// them; SHA256 is 64 hex digits or empty. Pure; thread-safe.
namespace downloads {

// The whole store for `items`, in their order.
std::string formatStore(const std::vector<Item> &items);

// The items of a store's bytes: every line that parses, in order; a line that does not (or repeats an id) is
// skipped and counted in `problem`. Linear in the size of the text; accepts any bytes.
StoreContents parseStore(std::string_view text);

// A finished download whose file is gone shows as failed, with the reason.
void markGoneFiles(std::vector<Item> &items);

// The store's word for a state, and the state of a word.
std::string_view stateWord(State state);
std::optional<State> stateOfWord(std::string_view word);

} // namespace downloads
