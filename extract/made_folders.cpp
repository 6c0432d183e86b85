#include "extract/made_folders.h"

bool Remembers(const MadeFolders& made, std::string_view folder) {
  const std::lock_guard<std::mutex> hold(made.lock);
  return made.known.count(folder) != 0;
}

void Remember(MadeFolders& made, std::string_view folder) {
  const std::lock_guard<std::mutex> hold(made.lock);
  if (made.known.count(folder) != 0) return;
  while (!made.order.empty() && (made.known.size() >= made.maxFolders ||
                                 made.bytes + folder.size() > kMaxRememberedBytes)) {
    made.known.erase(made.order.front());
    made.bytes -= made.order.front().size();
    made.order.pop_front();
  }
  made.order.emplace_back(folder);
  made.known.insert(made.order.back());
  made.bytes += folder.size();
}
