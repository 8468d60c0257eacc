#include "pack/named_archive.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "jc/jc_entry.h"
#include "jc/pack_format.h"
#include "pack/archive_digest.h"
#include "pack/named_archive_writer.h"
#include "testing/codec_data_helpers.h"
#include "testing/self_extractor_helpers.h"

namespace {

using Bytes = std::vector<uint8_t>;
using S = NamedTrailerStatus;

Bytes bytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes make_trailer(const TrailerFields& f) {
  return bytes(trailer_by_hand(f));
}

/// One table record; `path_size` as stored, whatever the path's length.
Bytes make_record(const std::string& path, int64_t mtime = 0, uint8_t flags = 0,
                  size_t path_size = SIZE_MAX) {
  return bytes(table_record(path, flags, mtime, path_size));
}

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

S read_trailer(const Bytes& file, NamedArchiveTrailer* out) {
  return named_archive_read_trailer(file.data(), file.size(), file.size(), out);
}

S read_trailer(const Bytes& file) {
  NamedArchiveTrailer t;
  return read_trailer(file, &t);
}

struct Walked {
  std::vector<std::string> paths;
  std::vector<NamedArchiveRecord> records;
  NamedTableStep last;
};

/// Walks `table` (held alone in a vector of its exact size, so that a read past it is
/// caught by the sanitizers) to its end.
Walked walk(const Bytes& table, uint32_t count) {
  Walked w;
  NamedTableWalk walk =
      named_archive_table_start(table.data(), table.size(), count, kNamedArchiveVersion1);
  NamedArchiveRecord record;
  while ((w.last = named_archive_next_name(walk, &record)) == NamedTableStep::record) {
    w.paths.emplace_back(reinterpret_cast<const char*>(record.path), record.path_size);
    w.records.push_back(record);
  }
  // The walk stays where it stopped.
  EXPECT_EQ(named_archive_next_name(walk, &record), w.last);
  return w;
}

/// Appends a stored or compressed entry of `data` and the item describing it.
void add_file(Bytes& archive, std::vector<NamedArchiveItem>& items, const std::string& path,
              const Bytes& data, int64_t mtime, uint8_t flags = 0) {
  ASSERT_TRUE(jc_append_pack_entry(archive, data.data(), data.size(), 6, false));
  items.push_back({path, mtime, flags});
}

void add_folder(Bytes& archive, std::vector<NamedArchiveItem>& items, const std::string& path) {
  ASSERT_TRUE(jc_append_pack_entry(archive, nullptr, 0, 6, false));
  items.push_back({path, 1700000000, kNamedEntryDirectory});
}

TEST(NamedArchive, RoundTripBehindAProgram) {
  const Bytes stub = cat({bytes("#!stub program\n"), Bytes(1000, 0x90)});
  const Bytes text = jc_test_text(20000, 7), noise = jc_test_random(500, 8);
  Bytes file = stub;
  std::vector<NamedArchiveItem> items;
  add_folder(file, items, "Projekt");
  add_folder(file, items, "Projekt/leerer Ordner");
  add_file(file, items,
           "Projekt/Gr\xC3\xBC\xC3\x9F"
           "e/\xE2\x82\xAC uro.txt",
           text, -86400);
  add_file(file, items, "Projekt/bin/start", noise, INT64_MAX, kNamedEntryExecutable);
  add_file(file, items, "leer.txt", Bytes(), 0);
  add_file(file, items, "\xE6\x96\x87\xE4\xBB\xB6.md", bytes("x"), INT64_MIN);
  ASSERT_TRUE(named_archive_finish(file, stub.size(), items));

  NamedArchiveTrailer t;
  ASSERT_EQ(read_trailer(file, &t), S::valid);
  EXPECT_EQ(t.entry_count, items.size());
  EXPECT_EQ(t.entries_offset, stub.size());
  EXPECT_EQ(t.table_offset + t.table_size + kNamedArchiveTrailerSize, file.size());
  // Only the trailer's bytes are needed to read it.
  NamedArchiveTrailer from_tail;
  EXPECT_EQ(named_archive_read_trailer(file.data() + file.size() - kNamedArchiveTrailerSize,
                                       kNamedArchiveTrailerSize, file.size(), &from_tail),
            S::valid);
  EXPECT_EQ(from_tail.table_offset, t.table_offset);
  EXPECT_TRUE(named_archive_digest_matches(t, file.data() + t.entries_offset,
                                           t.entries_size + t.table_size));

  const Bytes table(file.begin() + t.table_offset, file.begin() + t.table_offset + t.table_size);
  const Walked w = walk(table, t.entry_count);
  EXPECT_EQ(w.last, NamedTableStep::end);
  ASSERT_EQ(w.records.size(), items.size());
  for (size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(w.paths[i], items[i].path);
    EXPECT_EQ(w.records[i].mtime, items[i].mtime);
    EXPECT_EQ(w.records[i].flags, items[i].flags);
    EXPECT_TRUE(entry_name_is_safe(w.records[i].path, w.records[i].path_size));
  }
  const uint8_t* entries = file.data() + t.entries_offset;
  EXPECT_TRUE(named_archive_entries_match(entries, t.entries_size, table.data(), table.size(),
                                          t.entry_count, kNamedArchiveVersion1));
  PackWalk pack = pack_walk_start(entries, t.entries_size);
  PackEntryView entry;
  const Bytes expected[] = {{}, {}, text, noise, {}, bytes("x")};
  for (const Bytes& data : expected) {
    ASSERT_EQ(pack_walk_next(pack, &entry), PackWalkStep::entry);
    Bytes out(entry.header.unpacked_size);
    EXPECT_EQ(pack_entry_unpack(entry, out.data(), out.size()), JcStatus::ok);
    EXPECT_EQ(out, data);
  }
  EXPECT_EQ(pack_walk_next(pack, &entry), PackWalkStep::end);
}

TEST(NamedArchive, EmptyArchiveIsValid) {
  Bytes file;
  ASSERT_TRUE(named_archive_finish(file, 0, {}));
  EXPECT_EQ(file.size(), kNamedArchiveTrailerSize);
  NamedArchiveTrailer t;
  ASSERT_EQ(read_trailer(file, &t), S::valid);
  EXPECT_EQ(t.entry_count, 0u);
  EXPECT_EQ(walk(Bytes(), 0).last, NamedTableStep::end);
}

TEST(NamedArchiveWriter, RefusesWhatCouldNotBeExtractedAndLeavesTheArchiveAlone) {
  Bytes entries;
  ASSERT_TRUE(jc_append_pack_entry(entries, nullptr, 0, 1, false));
  const Bytes data = bytes("data");
  Bytes with_data;
  ASSERT_TRUE(jc_append_pack_entry(with_data, data.data(), data.size(), 1, true));
  const struct {
    const char* what;
    Bytes archive;
    size_t start;
    std::vector<NamedArchiveItem> items;
  } cases[] = {
      {"unsafe name", entries, 0, {{"../x", 0, 0}}},
      {"device name", entries, 0, {{"aux.c", 0, 0}}},
      {"fewer items than entries", cat({entries, entries}), 0, {{"a", 0, 0}}},
      {"more items than entries", entries, 0, {{"a", 0, 0}, {"b", 0, 0}}},
      {"folder with data", with_data, 0, {{"d", 0, kNamedEntryDirectory}}},
      {"unknown flags", entries, 0, {{"a", 0, 0x04}}},
      {"same path twice", cat({entries, entries}), 0, {{"a/b", 0, 0}, {"a/b", 0, 0}}},
      {"start past the end", entries, entries.size() + 1, {{"a", 0, 0}}},
      {"entries cut short", Bytes(with_data.begin(), with_data.end() - 1), 0, {{"a", 0, 0}}},
  };
  for (const auto& c : cases) {
    Bytes archive = c.archive;
    EXPECT_FALSE(named_archive_finish(archive, c.start, c.items)) << c.what;
    EXPECT_EQ(archive, c.archive) << c.what;
  }
  // Names that differ only in case are the caller's choice.
  Bytes archive = cat({entries, entries});
  EXPECT_TRUE(named_archive_finish(archive, 0, {{"Makefile", 0, 0}, {"makefile", 0, 0}}));
}

/// A sink that keeps what it is given in a vector, up to `room` bytes in all.
struct LimitedSink {
  Bytes kept;
  size_t room = SIZE_MAX;
};

bool keep_in(void* context, const uint8_t* data, size_t size) {
  LimitedSink& sink = *static_cast<LimitedSink*>(context);
  if (size > sink.room - sink.kept.size()) return false;
  sink.kept.insert(sink.kept.end(), data, data + size);
  return true;
}

TEST(NamedArchiveWriter, StreamsWhatTheFinishedArchiveHoldsAndStopsAtTheFirstFailure) {
  Bytes file, folder_entry;
  std::vector<NamedArchiveItem> items;
  add_folder(file, items, "d");
  add_file(file, items, "d/f.txt", jc_test_text(5000, 3), 7, kNamedEntryExecutable);
  folder_entry.assign(file.begin(), file.begin() + kPackEntryHeaderSize);
  const Bytes file_entry(file.begin() + kPackEntryHeaderSize, file.end());
  ASSERT_TRUE(named_archive_finish(file, 0, items));

  // Entry by entry into a sink: the same bytes, the entries passed on as they come.
  LimitedSink sink;
  NamedArchiveWriter w;
  named_archive_writer_start(&w, keep_in, &sink, kNamedArchiveVersion1);
  ASSERT_TRUE(named_archive_writer_add(&w, items[0], folder_entry.data(), folder_entry.size()));
  ASSERT_TRUE(named_archive_writer_add(&w, items[1], file_entry.data(), file_entry.size()));
  EXPECT_EQ(sink.kept, cat({folder_entry, file_entry}));
  ASSERT_TRUE(named_archive_writer_finish(&w));
  EXPECT_EQ(sink.kept, file);

  // A sink that refuses bytes stops the writer for good.
  for (const size_t room : {size_t(0), folder_entry.size() + 1, file.size() - 1}) {
    LimitedSink small;
    small.room = room;
    named_archive_writer_start(&w, keep_in, &small, kNamedArchiveVersion1);
    bool ok = named_archive_writer_add(&w, items[0], folder_entry.data(), folder_entry.size());
    ok = named_archive_writer_add(&w, items[1], file_entry.data(), file_entry.size()) && ok;
    ok = named_archive_writer_finish(&w) && ok;
    EXPECT_FALSE(ok) << room;
    EXPECT_EQ(w.status, NamedWriterStatus::sink_failed) << room;
    EXPECT_FALSE(named_archive_writer_finish(&w)) << room;
  }

  // A refused entry passes nothing on, and the writer refuses everything after it.
  LimitedSink refused;
  named_archive_writer_start(&w, keep_in, &refused, kNamedArchiveVersion1);
  EXPECT_FALSE(named_archive_writer_add(&w, {"d", 0, kNamedEntryDirectory}, file_entry.data(),
                                        file_entry.size()));
  EXPECT_EQ(w.status, NamedWriterStatus::bad_entry);
  EXPECT_FALSE(named_archive_writer_add(&w, items[0], folder_entry.data(), folder_entry.size()));
  EXPECT_FALSE(named_archive_writer_finish(&w));
  EXPECT_TRUE(refused.kept.empty());

  // No more than kNamedArchiveMaxEntries entries.
  LimitedSink many;
  named_archive_writer_start(&w, keep_in, &many, kNamedArchiveVersion1);
  for (uint32_t i = 0; i < kNamedArchiveMaxEntries; ++i) {
    ASSERT_TRUE(named_archive_writer_add(&w, items[0], folder_entry.data(), folder_entry.size()));
  }
  EXPECT_FALSE(named_archive_writer_add(&w, items[0], folder_entry.data(), folder_entry.size()));
  EXPECT_EQ(w.status, NamedWriterStatus::too_many);
}

TEST(NamedArchiveTrailer, AbsentWithoutTheMagicOrRoomForATrailer) {
  Bytes file;
  ASSERT_TRUE(named_archive_finish(file, 0, {}));
  EXPECT_EQ(read_trailer(Bytes()), S::absent);
  EXPECT_EQ(read_trailer(bytes("a short file")), S::absent);
  EXPECT_EQ(read_trailer(Bytes(4096, 0)), S::absent);
  // A file cut short inside its trailer no longer ends with one.
  for (size_t cut = 1; cut < file.size(); ++cut) {
    EXPECT_EQ(read_trailer(Bytes(file.begin(), file.end() - cut)), S::absent) << cut;
  }
  // Bytes after the trailer hide it, too.
  EXPECT_EQ(read_trailer(cat({file, bytes("\n")})), S::absent);
  // A tail shorter than a trailer, or longer than the file, holds none.
  NamedArchiveTrailer t;
  EXPECT_EQ(named_archive_read_trailer(file.data() + 1, file.size() - 1, file.size(), &t),
            S::absent);
  EXPECT_EQ(named_archive_read_trailer(file.data(), file.size(), file.size() - 1, &t), S::absent);
}

TEST(NamedArchiveTrailer, EveryDamagedByteOutsideTheMagicIsReportedDamaged) {
  Bytes file;
  std::vector<NamedArchiveItem> items;
  add_file(file, items, "a.txt", bytes("hello"), 5);
  ASSERT_TRUE(named_archive_finish(file, 0, items));
  const size_t trailer = file.size() - kNamedArchiveTrailerSize;
  for (size_t i = trailer; i < file.size(); ++i) {
    for (const uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes damaged = file;
      damaged[i] ^= flip;
      const S status = read_trailer(damaged);
      if (i < trailer + sizeof(kNamedArchiveMagic)) {
        EXPECT_EQ(status, S::absent) << i;
      } else {
        EXPECT_EQ(status, S::bad_check) << i;
      }
    }
  }
}

TEST(NamedArchiveTrailer, FieldsOutOfRangeAreDamaged) {
  // A table of one 12-byte record and one empty entry (8 bytes) in front of the trailer.
  const size_t before = 20;
  const struct {
    const char* what;
    TrailerFields fields;
    S status;
  } cases[] = {
      {"fits", {kNamedArchiveVersion1, 1, 12, 8, 0}, S::valid},
      {"version 0", {0, 1, 12, 8, 0}, S::bad_version},
      {"version 3", {3, 1, 12, 8, 0}, S::bad_version},
      {"version 2: settings and no records", {2, 0, 4, 16, 0}, S::valid},
      {"version 2: no room for the settings' size", {2, 0, 3, 8, 0}, S::bad_count},
      {"version 2: no room for a record", {2, 1, 12, 8, 0}, S::bad_count},
      {"table larger than the file", {1, 1, 21, 0, 0}, S::bad_sizes},
      {"entries larger than the file", {1, 1, 12, 9, 0}, S::bad_sizes},
      {"sum overflows", {1, 1, 12, UINT64_MAX - 5, 0}, S::bad_sizes},
      {"table size at the limit", {1, 1, UINT64_MAX, 8, 0}, S::bad_sizes},
      {"too many entries", {1, kNamedArchiveMaxEntries + 1, 12, 8, 0}, S::bad_count},
      {"count at the limit", {1, UINT32_MAX, 12, 8, 0}, S::bad_count},
      {"table too small for the count", {1, 2, 12, 8, 0}, S::bad_count},
      {"table too large for the count", {1, 0, 12, 8, 0}, S::bad_count},
      {"entries too small for the count", {1, 1, 12, 7, 0}, S::bad_count},
      {"entries without a count", {1, 0, 0, 8, 0}, S::bad_count},
  };
  for (const auto& c : cases) {
    const Bytes file = cat({Bytes(before, 0), make_trailer(c.fields)});
    EXPECT_EQ(read_trailer(file), c.status) << c.what;
    EXPECT_EQ(named_trailer_damaged(c.status), c.status != S::valid) << c.what;
  }
  // Sizes at the edge of what one record and one entry can take, in a file large enough.
  const uint64_t max_record = kNamedArchiveRecordHeaderSize + kEntryNameMaxSize;
  const uint64_t max_entry = kPackEntryHeaderSize + uint64_t(UINT32_MAX);
  const Bytes edge = make_trailer({1, 1, max_record, max_entry, 0});
  const Bytes over_table = make_trailer({1, 1, max_record + 1, max_entry, 0});
  const Bytes over_entries = make_trailer({1, 1, max_record, max_entry + 1, 0});
  const uint64_t huge_file = max_record + max_entry + 4096;
  NamedArchiveTrailer t;
  EXPECT_EQ(named_archive_read_trailer(edge.data(), edge.size(), huge_file, &t), S::valid);
  EXPECT_EQ(t.entries_offset, huge_file - kNamedArchiveTrailerSize - max_record - max_entry);
  EXPECT_EQ(named_archive_read_trailer(over_table.data(), over_table.size(), huge_file, &t),
            S::bad_count);
  EXPECT_EQ(named_archive_read_trailer(over_entries.data(), over_entries.size(), huge_file, &t),
            S::bad_count);
}

TEST(NamedArchiveDigest, ADamagedByteInEntriesOrTableIsNoticed) {
  Bytes file = bytes("stub");
  std::vector<NamedArchiveItem> items;
  add_folder(file, items, "d");
  add_file(file, items, "d/f", jc_test_text(3000, 9), 1);
  ASSERT_TRUE(named_archive_finish(file, 4, items));
  NamedArchiveTrailer t;
  ASSERT_EQ(read_trailer(file, &t), S::valid);
  const size_t parts = size_t(t.entries_size + t.table_size);
  ASSERT_TRUE(named_archive_digest_matches(t, file.data() + 4, parts));
  for (size_t i = 4; i < 4 + parts; ++i) {
    Bytes damaged = file;
    damaged[i] ^= 0x10;
    EXPECT_FALSE(named_archive_digest_matches(t, damaged.data() + 4, parts)) << i;
  }
  EXPECT_FALSE(named_archive_digest_matches(t, file.data() + 4, parts - 1));
  EXPECT_FALSE(named_archive_digest_matches(t, file.data() + 3, parts + 1));
}

TEST(NamedTableWalk, HostileTablesFailWithoutReadingOutside) {
  const Bytes good = cat({make_record("a", 1), make_record("b/c", -1, kNamedEntryExecutable)});
  ASSERT_EQ(walk(good, 2).last, NamedTableStep::end);
  const struct {
    const char* what;
    Bytes table;
    uint32_t count;
    size_t records_before_failure;
  } cases[] = {
      {"more records claimed than held", good, 3, 2},
      {"fewer records claimed than held", good, 1, 1},
      {"records claimed of an empty table", Bytes(), 1, 0},
      {"name runs past the table", make_record("abc", 0, 0, 4), 1, 0},
      {"name size far past the table", make_record("abc", 0, 0, 0xFFFF), 1, 0},
      {"zero-length name", make_record("", 0, 0), 1, 0},
      {"name longer than any path", make_record(std::string(1025, 'n'), 0, 0), 1, 0},
      {"unknown flag bits", make_record("a", 0, 0x80), 1, 0},
      {"a stray byte after the records", cat({good, Bytes(1, 0)}), 2, 2},
      {"a good record after a bad one", cat({make_record("", 0), good}), 3, 0},
  };
  for (const auto& c : cases) {
    const Walked w = walk(c.table, c.count);
    EXPECT_EQ(w.last, NamedTableStep::malformed) << c.what;
    EXPECT_EQ(w.records.size(), c.records_before_failure) << c.what;
  }
  // A table cut anywhere inside a record.
  for (size_t cut = 1; cut < good.size(); ++cut) {
    const Walked w = walk(Bytes(good.begin(), good.end() - cut), 2);
    EXPECT_EQ(w.last, NamedTableStep::malformed) << cut;
  }
  // The largest path the walk delivers.
  const Walked longest = walk(make_record(std::string(kEntryNameMaxSize, 'n')), 1);
  EXPECT_EQ(longest.last, NamedTableStep::end);
}

TEST(NamedTableWalk, UnsafeNamesAreDeliveredForTheCheckerToRefuse) {
  // The walk reads the table's structure; the names are the checker's to judge.
  const char* hostile[] = {"..",      "a/../b",   "/etc/passwd", "C:x",   "c:\\x",    "a\\b", "CON",
                           "con.txt", "LPT1.log", "name.",       "name ", "\xC0\xAF", "a\tb"};
  Bytes table;
  for (const char* name : hostile) table = cat({table, make_record(name)});
  const Walked w = walk(table, uint32_t(std::size(hostile)));
  ASSERT_EQ(w.last, NamedTableStep::end);
  for (const NamedArchiveRecord& r : w.records) {
    EXPECT_FALSE(entry_name_is_safe(r.path, r.path_size))
        << std::string(reinterpret_cast<const char*>(r.path), r.path_size);
  }
}

TEST(NamedArchiveCopyPath, TerminatedCopiesThatFit) {
  const Bytes table = cat({make_record("dir/file"), make_record(std::string("a\0b", 3))});
  const Walked w = walk(table, 2);
  ASSERT_EQ(w.records.size(), 2u);
  char buffer[9];
  EXPECT_TRUE(named_archive_copy_path(w.records[0], buffer, sizeof(buffer)));
  EXPECT_STREQ(buffer, "dir/file");
  char small[8] = "xxxxxxx";
  EXPECT_FALSE(named_archive_copy_path(w.records[0], small, sizeof(small)));
  EXPECT_STREQ(small, "xxxxxxx");
  // A zero byte would cut the name short into a different one.
  EXPECT_FALSE(named_archive_copy_path(w.records[1], buffer, sizeof(buffer)));
}

TEST(NamedArchiveEntriesMatch, OneEntryPerRecordAndEmptyFolders) {
  Bytes empty, five;
  ASSERT_TRUE(jc_append_pack_entry(empty, nullptr, 0, 1, false));
  ASSERT_TRUE(jc_append_pack_entry(five, reinterpret_cast<const uint8_t*>("12345"), 5, 1, true));
  const Bytes file_record = make_record("f"), folder = make_record("d", 0, kNamedEntryDirectory);
  const auto match = [](const Bytes& entries, const Bytes& table, uint32_t count) {
    return named_archive_entries_match(entries.data(), entries.size(), table.data(), table.size(),
                                       count, kNamedArchiveVersion1);
  };
  EXPECT_TRUE(match(cat({empty, five}), cat({folder, file_record}), 2));
  EXPECT_FALSE(match(cat({five, empty}), cat({folder, file_record}), 2));  // folder with data
  EXPECT_FALSE(match(five, cat({folder, file_record}), 2));                // entry missing
  EXPECT_FALSE(match(cat({empty, five, empty}), cat({folder, file_record}), 2));  // one over
  EXPECT_FALSE(match(Bytes(five.begin(), five.end() - 1), file_record, 1));       // cut short
  EXPECT_FALSE(match(five, cat({file_record, Bytes(1, 0)}), 1));                  // malformed table
}

}  // namespace
