#include "sfxpack/deflate_blocks.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "sfxpack/file_io.h"
#include "sfxpack/zip_stream_writer.h"

namespace sfx {

namespace {

constexpr size_t kWindow = 32 * 1024;  // deflate's reach back

// Ends a deflate stream when its owner goes.
class DeflateOwner {
 public:
  DeflateOwner() { memset(&stream_, 0, sizeof stream_); }
  ~DeflateOwner() {
    if (started_) deflateEnd(&stream_);
  }
  DeflateOwner(const DeflateOwner&) = delete;
  DeflateOwner& operator=(const DeflateOwner&) = delete;

  // Raw deflate (no zlib header) with zlib's default memory and strategy,
  // the choice every ZIP tool makes.
  bool Start(int level) {
    started_ = deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    return started_;
  }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_;
  bool started_ = false;
};

bool DeflateWith(z_stream* zip, DeflateBlock* b, bool primed) {
  if (deflateReset(zip) != Z_OK) return false;
  if (primed && b->window && deflateSetDictionary(zip, b->input.data(), static_cast<uInt>(b->window)) != Z_OK)
    return false;
  // A sync flush adds at most a few bytes to the bound of a finished stream.
  const size_t room = deflateBound(zip, static_cast<uLong>(b->dataBytes)) + 64;
  if (b->output.size() < room) b->output.resize(room);
  zip->next_in = b->input.data() + b->window;
  zip->avail_in = static_cast<uInt>(b->dataBytes);
  zip->next_out = b->output.data();
  zip->avail_out = static_cast<uInt>(b->output.size());
  const int flush = b->last ? Z_FINISH : Z_SYNC_FLUSH;
  const int status = deflate(zip, flush);
  // The bound leaves room: one call consumes everything and ends the block.
  const bool whole = b->last ? status == Z_STREAM_END : status == Z_OK && zip->avail_in == 0 && zip->avail_out > 0;
  if (!whole) return false;
  b->outputBytes = b->output.size() - zip->avail_out;
  return true;
}

// A worker's three deflate streams: the level asked for, a level-1 trial
// that decides, and level 0 for the blocks it decides to store.
struct Deflaters {
  DeflateOwner zip, trial, store;
  bool Start(int level) { return zip.Start(level) && trial.Start(1) && store.Start(0); }
};

// Deflates a block at the level, or stores it (deflate's stored blocks,
// the same stream format) when the trial finds deflate saves too little:
// deflate would spend most of its time there to save nothing.
bool DeflateOrStore(Deflaters& d, DeflateBlock* b) {
  return DeflateSavesLittle(d.trial.get(), b->input.data() + b->window, b->dataBytes)
             ? DeflateWith(d.store.get(), b, false)
             : DeflateWith(d.zip.get(), b, true);
}

unsigned ThreadsFor(unsigned asked) {
  if (asked) return asked;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores ? cores : 1;
}

}  // namespace

bool DeflateSavesLittle(z_stream* trial, const uint8_t* data, size_t count) {
  if (count < kTrialBytes) return false;
  if (deflateReset(trial) != Z_OK) return false;
  // A level-1 stream of 64 KiB that saves 1 % or more finishes within this
  // much room (the block is deflated); running out of it first means deflate
  // saves less, and the block is stored.
  uint8_t out[kTrialBytes * 99 / 100];
  trial->next_in = const_cast<Bytef*>(data);  // zlib's field is not const, its reading is
  trial->avail_in = static_cast<uInt>(kTrialBytes);
  trial->next_out = out;
  trial->avail_out = sizeof out;
  const int status = deflate(trial, Z_FINISH);
  return status != Z_STREAM_END;
}

bool DeflateOneBlock(DeflateBlock* block, int level) {
  Deflaters d;
  return d.Start(level) && DeflateOrStore(d, block);
}

BlockPipeline::BlockPipeline(const std::vector<SourceEntry>& entries, int level, unsigned threads)
    : entries_(entries), level_(level), threadCount_(ThreadsFor(threads)) {
  // Two blocks per thread keep every worker busy while the caller writes;
  // two more let the reader run ahead.
  const size_t blocks = 2 * size_t(threadCount_) + 2;
  for (size_t i = 0; i < blocks; ++i) {
    pool_.emplace_back(new DeflateBlock);
    free_.push_back(pool_.back().get());
  }
  threads_.emplace_back(&BlockPipeline::ReadFiles, this);
  for (unsigned i = 0; i < threadCount_; ++i) threads_.emplace_back(&BlockPipeline::Deflate, this);
}

BlockPipeline::~BlockPipeline() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

DeflateBlock* BlockPipeline::TakeFree() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return stopping_ || !free_.empty(); });
  if (stopping_) return nullptr;
  DeflateBlock* b = free_.back();
  free_.pop_back();
  return b;
}

void BlockPipeline::Publish(DeflateBlock* block, bool toWork) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    order_.push_back(block);
    if (toWork) work_.push_back(block);
  }
  changed_.notify_all();
}

// Reads one file into blocks; false when reading must end (the file failed
// or the pipeline stops).
bool BlockPipeline::ReadFile(size_t index) {
  const SourceEntry& e = entries_[index];
  FileOwner file(OpenFile(e.path, "rb"));
  std::string failure;
  if (!file.get()) failure = "cannot open " + PathText(e.path) + ": " + strerror(errno);
  uint64_t left = e.size;
  std::vector<uint8_t> window;  // the last bytes of the block before
  while (failure.empty() && left > 0) {
    DeflateBlock* b = TakeFree();
    if (!b) return false;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(left, kDeflateBlockBytes));
    b->entry = index;
    b->window = window.size();
    b->dataBytes = take;
    b->outputBytes = 0;
    b->error.clear();
    b->ready = false;
    if (b->input.size() < kWindow + kDeflateBlockBytes) b->input.resize(kWindow + kDeflateBlockBytes);
    std::copy(window.begin(), window.end(), b->input.begin());
    uint8_t* data = b->input.data() + b->window;
    const size_t got = fread(data, 1, take, file.get());
    left -= got;
    b->last = left == 0;
    if (got != take) {
      failure = ferror(file.get()) ? "cannot read " + PathText(e.path) : PathText(e.path) + " changed while it was packed";
    } else if (b->last && fgetc(file.get()) != EOF) {
      failure = PathText(e.path) + " changed while it was packed";
    }
    if (!failure.empty()) {
      b->error = failure;
      b->ready = true;
      Publish(b, false);
      return false;
    }
    const size_t keep = std::min(kWindow, take);
    window.assign(data + take - keep, data + take);
    Publish(b, true);
  }
  if (failure.empty()) return true;
  DeflateBlock* b = TakeFree();
  if (!b) return false;
  b->entry = index;
  b->error = failure;
  b->ready = true;
  Publish(b, false);
  return false;
}

void BlockPipeline::ReadFiles() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const SourceEntry& e = entries_[i];
    if (e.folder || e.size == 0) continue;
    if (!ReadFile(i)) break;
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    readingDone_ = true;
  }
  changed_.notify_all();
}

void BlockPipeline::Deflate() {
  Deflaters d;
  const bool started = level_ == 0 || d.Start(level_);
  for (;;) {
    DeflateBlock* b = nullptr;
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [this] { return stopping_ || !work_.empty() || readingDone_; });
      if (stopping_ || work_.empty()) return;
      b = work_.front();
      work_.pop_front();
    }
    const uint8_t* data = b->input.data() + b->window;
    b->crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, static_cast<uInt>(b->dataBytes)));
    if (!started || (level_ > 0 && !DeflateOrStore(d, b))) b->error = "zlib could not deflate";
    {
      std::lock_guard<std::mutex> hold(lock_);
      b->ready = true;
    }
    changed_.notify_all();
  }
}

DeflateBlock* BlockPipeline::Next() {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] {
    return stopping_ || (!order_.empty() && order_.front()->ready) || (order_.empty() && readingDone_);
  });
  if (stopping_ || order_.empty()) return nullptr;
  DeflateBlock* b = order_.front();
  order_.pop_front();
  return b;
}

void BlockPipeline::Release(DeflateBlock* block) {
  if (!block) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    free_.push_back(block);
  }
  changed_.notify_all();
}

}  // namespace sfx
