// Writes sample.wza: a small archive with folders, stored and compressed entries, so the
// tools can be tried without a game at hand.
#include <cstdio>
#include <string>

#include "tests/support/archive_writer.h"
#include "tests/support/test_files.h"

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "sample.wza";
  ArchiveSpec spec;
  spec.alias = "data";
  std::string text;
  for (int i = 0; i < 200; ++i) text += "Line " + std::to_string(i) + " of the readme.\n";
  spec.folders = {
      {"", {{"readme.txt", text, true}}},
      {"art\\ui", {{"button.raw", std::string(4096, '\x7f'), true}, {"logo.raw", "LOGO", false}}},
      {"sound", {{"click.wav", "RIFF....WAVEfmt ", false}}},
  };
  WriteFile(path, BuildArchive(spec).bytes);
  std::printf("%s\n", path.c_str());
  return 0;
}
