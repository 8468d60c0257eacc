// Where jcpack finds the self-extractor stubs. In the build tree they lie beside jcpack
// (build/bin/); installed, they lie in their own folder under the prefix
// (PREFIX/bin/jcpack and PREFIX/lib/entpacker/entpacker-stub). That folder is looked for
// relative to jcpack's own program, so a prefix moved or unpacked elsewhere still works;
// the place the build was configured to install into is used only when the system does not
// tell where jcpack's program is, so that a copied jcpack never takes another version's stub.
#pragma once

#include <string>
#include <vector>

/// What looking for a stub found.
struct StubLookup {
  std::string path;                  ///< the stub's file; empty when none was found
  std::vector<std::string> folders;  ///< the folders looked in, in order
};

/// Looks for the stub file `file`: in the folder of jcpack's running program, then in the
/// installed stub folder relative to it; in the configured install folder alone when the
/// program's place is unknown.
StubLookup stub_locate(const std::string& file);

/// "FOLDER/FILE: the PLATFORM stub is missing (looked for in A and B)", for a message.
std::string stub_missing_text(const std::string& file, const std::string& platform,
                              const StubLookup& lookup);
