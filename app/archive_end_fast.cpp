// The stub's way of finding where its appended archive ends: before the signature of a
// signed Windows program (pack/signed_program.h), at the file's end otherwise.
#include "app/archive_source.h"
#include "app/entry_decoder.h"
#include "pack/program_image.h"
#include "pack/signed_program.h"

namespace {

bool read_own_file(void* context, uint64_t offset, uint8_t* out, size_t count) {
  return archive_file_read_at(static_cast<PlatformFile>(context), offset, out, count);
}

}  // namespace

uint64_t entry_archive_end(PlatformFile file) {
  const uint64_t size = platform_file_size64(file);
  if (size == UINT64_MAX) return size;
  return signed_program_archive_end(read_own_file, file, size);
}

bool entry_bytes_appended(PlatformFile file, uint64_t end) {
  const uint64_t image_end = program_image_end(read_own_file, file, end);
  return image_end != kProgramImageUnknown && end > image_end;
}
