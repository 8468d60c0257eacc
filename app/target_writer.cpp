#include "app/target_writer.h"

#include <cstring>

#include "files/file_data.h"
#include "files/file_queries.h"
#include "files/program_directory.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

constexpr int32_t kTargetFileNumber = 0;
/// Room for a name built from a target or a stem, a number and an extension.
constexpr size_t kNameSize = kMaxPathSize;
constexpr size_t kDecimalDigits = 11;
/// The most bytes handed to one write of the file library.
constexpr uint32_t kMaxWriteStep = 1u << 30;
/// The longest part of a name the systems take, and what a new file's name adds to its
/// target's: the separator, up to kMaxNameNumber and the extension.
constexpr size_t kMaxNamePart = 255;
constexpr size_t kPartNameAddition =
    sizeof kPartFileSeparator - 1 + kDecimalDigits + sizeof kPartFileExtension - 1;
/// The new file's stem in place of a target's own name that leaves no room for the addition.
constexpr char kShortPartStem[] = "entpacker";

/// The writer's names, kept out of the stack.
struct WriterState {
  char part_name[kNameSize];        ///< the new file of the entry being written
  char part_stem[kNameSize];        ///< what the new file's name starts with
  char removal_path[kMaxPathSize];  ///< full path handed to the removal at exit
  bool replacing;                   ///< the target existed when the new file was begun
  bool open;                        ///< the new file is open under kTargetFileNumber
  FileFailure failure;              ///< the cause of the last failed step
};

WriterState writer_state;

/// Appends `text` to the zero-terminated `out` of `size` bytes; false when it does not fit.
bool append(char* out, size_t size, const char* text) {
  const size_t used = std::strlen(out);
  const size_t length = std::strlen(text);
  if (used + length >= size) return false;
  std::memcpy(out + used, text, length + 1);
  return true;
}

/// Appends the decimal digits of `number`.
bool append_number(char* out, size_t size, uint32_t number) {
  char digits[kDecimalDigits];
  char* at = digits + sizeof digits - 1;
  *at = 0;
  do {
    *--at = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  return append(out, size, at);
}

/// Registers the file `name` of the program directory for removal at exit in `slot`.
/// False when its full path cannot be kept.
bool register_removal(int slot, const char* name) {
  char* path = writer_state.removal_path;
  path[0] = 0;
  return append(path, kMaxPathSize, program_directory) && append(path, kMaxPathSize, name) &&
         platform_remove_on_exit(slot, path);
}

/// Creates `name` as a new file under `number`, shared with nobody, and registers it for
/// removal at exit. 1 when made; 0 when something of that name exists already; -1 when it
/// cannot be made for another reason (nothing is left behind then).
int create_registered(FileReference number, const char* name, int slot) {
  // An interrupt between the two steps would leave the new file behind.
  platform_hold_interrupts();
  int made = 1;
  if (!file_create_new(number, name)) {
    made = file_name_taken(name) ? 0 : -1;
  } else if (!register_removal(slot, name)) {
    file_close(number);
    file_delete(name);
    made = -1;
  }
  platform_release_interrupts();
  return made;
}

/// Builds `stem`, then `separator` and `number` (both left out when the number is 0), then
/// `extension` into `out`.
bool build_name(char* out, const char* stem, const char* separator, uint32_t number,
                const char* extension) {
  out[0] = 0;
  return append(out, kNameSize, stem) &&
         (number == 0 ||
          (append(out, kNameSize, separator) && append_number(out, kNameSize, number))) &&
         append(out, kNameSize, extension);
}

/// Gives the closed new file `name` its attributes (null: none). False when one cannot be set.
bool give_attributes(const char* name, const TargetAttributes* attributes) {
  if (!attributes) return true;
  return (!attributes->executable || platform_set_executable(name)) &&
         (!attributes->set_time || platform_set_file_time(name, attributes->mtime));
}

/// The start of the new file's name for `target_name`: the target's name, or, when its last
/// part is too long to take the addition, the target's folder followed by kShortPartStem.
const char* part_stem(const char* target_name) {
  const char* last = std::strrchr(target_name, '/');
  last = last ? last + 1 : target_name;
  if (std::strlen(last) + kPartNameAddition <= kMaxNamePart) return target_name;
  char* stem = writer_state.part_stem;
  const size_t folder = static_cast<size_t>(last - target_name);
  if (folder + sizeof kShortPartStem > kNameSize) return target_name;
  std::memcpy(stem, target_name, folder);
  std::memcpy(stem + folder, kShortPartStem, sizeof kShortPartStem);
  return stem;
}

/// Keeps the cause of the step that just failed.
void note_failure() {
  writer_state.failure = platform_file_last_failure();
}

/// Puts the finished new file in the target's place as `placement` says.
TargetWrite place(const char* target_name, TargetPlacement placement) {
  if (placement == TargetPlacement::replace)
    return file_replace(writer_state.part_name, target_name) ? TargetWrite::written
                                                             : TargetWrite::failed;
  switch (platform_file_place(writer_state.part_name, target_name)) {
    case FilePlacement::kPlaced:
      return TargetWrite::written;
    case FilePlacement::kTaken:
      return TargetWrite::taken;
    default:
      return TargetWrite::failed;
  }
}

}  // namespace

bool target_create_first_free(char* out, const char* stem, const char* separator,
                              const char* extension, bool plain_first, FileReference file,
                              int slot) {
  for (uint32_t number = 1; number <= kMaxNameNumber; ++number) {
    const uint32_t shown = plain_first && number == 1 ? 0 : number;
    if (!build_name(out, stem, separator, shown, extension)) return false;
    const int made = create_registered(file, out, slot);
    if (made != 0) return made == 1;
  }
  return false;
}

void target_remove_own_file(const char* name, int slot) {
  file_delete(name);
  platform_remove_on_exit(slot, nullptr);
}

TargetBegin target_begin(const char* target_name) {
  // One look at the target: whether a file is replaced, and whether it may be.
  const FileKind kind = platform_file_kind(target_name);
  writer_state.replacing = kind != FileKind::kMissing;
  writer_state.open = false;
  writer_state.failure = FileFailure::other;
  if (kind != FileKind::kMissing && kind != FileKind::kRegular) return TargetBegin::blocked;
  writer_state.open =
      target_create_first_free(writer_state.part_name, part_stem(target_name), kPartFileSeparator,
                               kPartFileExtension, false, kTargetFileNumber, kPartRemovalSlot);
  if (!writer_state.open) note_failure();
  return writer_state.open ? TargetBegin::begun : TargetBegin::failed;
}

FileFailure target_failure() {
  return writer_state.failure;
}

namespace {

/// Closes the new file where it is still open.
void close_part() {
  if (writer_state.open) file_close(kTargetFileNumber);
  writer_state.open = false;
}

}  // namespace

bool target_append(const uint8_t* data, size_t length) {
  (void)file_select_current(kTargetFileNumber);
  while (length > 0) {
    const uint32_t step = length > kMaxWriteStep ? kMaxWriteStep : static_cast<uint32_t>(length);
    if (!current_file_write_block(data, step)) {
      note_failure();
      return false;
    }
    data += step;
    length -= step;
  }
  return true;
}

TargetWrite target_place(const char* target_name, TargetPlacement placement) {
  const TargetWrite result = place(target_name, placement);
  if (result == TargetWrite::failed) note_failure();
  if (result == TargetWrite::written)
    platform_remove_on_exit(kPartRemovalSlot, nullptr);
  else if (result == TargetWrite::failed)
    target_abandon();
  return result;
}

TargetWrite target_finish(const char* target_name, const TargetAttributes* attributes,
                          TargetPlacement placement) {
  // The data reach the disk before a rename replaces a file that exists, so that a crash
  // can never leave an empty file where the old content was. A new name holds nothing of
  // the user's: its data are left to the system's own writing, which keeps extracting
  // thousands of small files fast.
  (void)file_select_current(kTargetFileNumber);
  const bool flushed = !writer_state.replacing || current_file_flush();
  close_part();
  if (!flushed || !give_attributes(writer_state.part_name, attributes)) {
    note_failure();
    target_abandon();
    return TargetWrite::failed;
  }
  return target_place(target_name, placement);
}

void target_abandon() {
  close_part();
  target_remove_own_file(writer_state.part_name, kPartRemovalSlot);
}

TargetWrite target_write(const char* target_name, const uint8_t* data, uint32_t length,
                         const TargetAttributes* attributes, TargetPlacement placement) {
  if (target_begin(target_name) != TargetBegin::begun) return TargetWrite::failed;
  if (!target_append(data, length)) {
    target_abandon();
    return TargetWrite::failed;
  }
  const TargetWrite result = target_finish(target_name, attributes, placement);
  if (result == TargetWrite::taken) target_abandon();
  return result;
}
