// `jcpack sfx`, steps 2 to 4: writing the self-extractor. The stub and then the content's
// blocks, the files read in the table's order and compressed on many threads (sfx_blocks.h),
// go to a temporary file beside OUT through the named archive writer; the table and the trailer
// follow, the finished file is read back through the archive reader (trailer, checksum, table, one
// entry per record), and the temporary gets the executable bits and is renamed over OUT.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "pack/named_archive_writer.h"
#include "tools/sfx_gather.h"

/// The stub file, open for reading, and what it tells.
struct Stub {
  std::string path;
  int fd = -1;
  uint64_t size = 0;
  dev_t device = 0;  ///< the file's identity, which OUT must not have
  ino_t inode = 0;
  bool windows = false;  ///< a Windows program: its names follow Windows' rules
};

/// OUT's folder and name, and the temporary being written there.
struct Output {
  std::string shown;  ///< OUT as given, for messages
  std::string name;   ///< OUT's last part
  int folder = -1;
  int fd = -1;
  uint64_t size = 0;     ///< bytes written so far
  bool replace = false;  ///< an existing OUT is replaced (-f)
  NamedArchiveWriter writer;
};

/// Opens the stub `path`: a regular file that is a program (an ELF file, or a Windows PE
/// file). False after a message.
bool open_stub(const std::string& path, Stub* stub);

/// Opens OUT's folder and checks that OUT is a name a file can be renamed over: missing, or
/// with `replace` a regular file or a link (replaced, not written through), and not the
/// stub's own file. Notes OUT's file in `g` so that it is not taken as an input. False after
/// a message.
bool prepare_output(const std::string& out, bool replace, const Stub& stub, Output* o, Gathered* g);

/// How the content is compressed, and the settings written into the archive.
struct SfxSettings {
  int level = 0;
  unsigned threads = 1;  ///< threads that compress blocks at once
  size_t chunk = 0;      ///< bytes of content per block
  std::string title;     ///< the title setting; empty for none
  std::string language;  ///< the language setting, a valid code
  std::string run;       ///< the installer's command, as given; empty for none
  bool temp = false;     ///< the temporary-folder setting (with a command only)
  std::string license;   ///< the licence's text; empty for none
};

/// Writes the whole self-extractor, its content compressed as `settings` say, to a temporary
/// beside OUT and renames it over OUT. False after a message, with the temporary removed.
bool write_self_extractor(const SfxSettings& settings, const Stub& stub, const Gathered& g,
                          Output* o);

/// Closes what `stub` and `o` hold open.
void close_stub_and_output(Stub* stub, Output* o);
