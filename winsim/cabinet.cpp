#include "winsim/cabinet.h"

#include <mspack.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace winsim {
namespace {

// libmspack does all its I/O through an mspack_system; this one serves the
// cabinet from the caller's image and collects each extracted member in
// memory, so nothing touches the host's file system.
constexpr char kImageName[] = "image";
constexpr char kMemberName[] = "member";
// A cabinet of a few kilobytes can legally claim gigabytes of output; what
// SetupIterateCabinetA is used for here never needs more than this.
constexpr size_t kMaxTotalOutput = size_t{512} << 20;

struct MemFile {
  const std::vector<uint8_t>* in = nullptr;  // reading the image
  std::vector<uint8_t>* out = nullptr;       // writing a member
  size_t pos = 0;
  struct MemSystem* sys = nullptr;
};

struct MemSystem {
  mspack_system base;  // first: libmspack hands back this pointer
  const std::vector<uint8_t>* image;
  std::vector<uint8_t>* sink;
  size_t written;
};

mspack_file* MemOpen(mspack_system* self, const char* filename, int mode) {
  auto* sys = reinterpret_cast<MemSystem*>(self);
  auto* f = new (std::nothrow) MemFile;
  if (!f) return nullptr;
  f->sys = sys;
  if (mode == MSPACK_SYS_OPEN_READ && std::strcmp(filename, kImageName) == 0) {
    f->in = sys->image;
  } else if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(filename, kMemberName) == 0 && sys->sink) {
    sys->sink->clear();
    f->out = sys->sink;
  } else {
    delete f;
    return nullptr;
  }
  return reinterpret_cast<mspack_file*>(f);
}

void MemClose(mspack_file* file) { delete reinterpret_cast<MemFile*>(file); }

int MemRead(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<MemFile*>(file);
  if (!f->in || bytes < 0) return -1;
  const size_t size = f->in->size();
  const size_t n = f->pos >= size ? 0 : std::min(static_cast<size_t>(bytes), size - f->pos);
  if (n > 0) std::memcpy(buffer, f->in->data() + f->pos, n);
  f->pos += n;
  return static_cast<int>(n);
}

int MemWrite(mspack_file* file, void* buffer, int bytes) {
  auto* f = reinterpret_cast<MemFile*>(file);
  if (!f->out || bytes < 0) return -1;
  const size_t n = static_cast<size_t>(bytes);
  if (n > kMaxTotalOutput - f->sys->written) return -1;
  f->sys->written += n;
  const auto* p = static_cast<const uint8_t*>(buffer);
  f->out->insert(f->out->end(), p, p + n);
  return bytes;
}

int MemSeek(mspack_file* file, off_t offset, int mode) {
  auto* f = reinterpret_cast<MemFile*>(file);
  const size_t size = f->in ? f->in->size() : f->out->size();
  long long base = 0;
  switch (mode) {
    case MSPACK_SYS_SEEK_START: base = 0; break;
    case MSPACK_SYS_SEEK_CUR: base = static_cast<long long>(f->pos); break;
    case MSPACK_SYS_SEEK_END: base = static_cast<long long>(size); break;
    default: return -1;
  }
  const long long target = base + static_cast<long long>(offset);
  // libmspack seeks past the end to test for truncation; report it as an
  // error like a real file would on read.
  if (target < 0 || target > static_cast<long long>(size)) return -1;
  f->pos = static_cast<size_t>(target);
  return 0;
}

off_t MemTell(mspack_file* file) { return static_cast<off_t>(reinterpret_cast<MemFile*>(file)->pos); }

void MemMessage(mspack_file*, const char*, ...) {}

void* MemAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }

void MemFree(void* ptr) { std::free(ptr); }

void MemCopy(void* src, void* dest, size_t bytes) { std::memcpy(dest, src, bytes); }

struct DecompressorDeleter {
  void operator()(mscab_decompressor* d) const { mspack_destroy_cab_decompressor(d); }
};

}  // namespace

bool ReadCabinet(const std::vector<uint8_t>& image, std::vector<CabinetMember>& members) {
  members.clear();
  std::vector<uint8_t> sink;
  MemSystem sys{};
  sys.base.open = MemOpen;
  sys.base.close = MemClose;
  sys.base.read = MemRead;
  sys.base.write = MemWrite;
  sys.base.seek = MemSeek;
  sys.base.tell = MemTell;
  sys.base.message = MemMessage;
  sys.base.alloc = MemAlloc;
  sys.base.free = MemFree;
  sys.base.copy = MemCopy;
  sys.base.null_ptr = nullptr;
  sys.image = &image;
  sys.sink = &sink;
  sys.written = 0;

  std::unique_ptr<mscab_decompressor, DecompressorDeleter> cabd(
      mspack_create_cab_decompressor(&sys.base));
  if (!cabd) return false;
  mscabd_cabinet* cab = cabd->open(cabd.get(), kImageName);
  if (!cab) return false;

  bool ok = true;
  // A cabinet of a multi-cabinet set cannot be read alone: members that
  // continue from or into another cabinet fail to extract below.
  for (mscabd_file* file = cab->files; file; file = file->next) {
    if (cabd->extract(cabd.get(), file, kMemberName) != MSPACK_ERR_OK || sink.size() != file->length) {
      ok = false;
      break;
    }
    members.push_back(CabinetMember{file->filename ? file->filename : "", std::move(sink)});
    sink.clear();
  }
  cabd->close(cabd.get(), cab);
  return ok;
}

}  // namespace winsim
