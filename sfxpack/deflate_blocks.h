// The packer's parallel deflate: one thread reads the files in archive
// order and cuts them into blocks of kDeflateBlockBytes, worker threads
// deflate the blocks, and the caller takes them back in the order they were
// cut. Each block is deflated on its own, primed with the 32 KiB of the
// file before it and ended on a byte boundary (a sync flush; the file's
// last block finishes the stream), so the blocks of a file joined in order
// are one raw deflate stream, and what each block becomes depends on the
// file's bytes only, never on the threads. A fixed pool of blocks bounds
// the memory: the reader waits when every block is in use.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "sfxpack/folder_scan.h"

namespace sfx {

struct DeflateBlock {
  size_t entry = 0;        // index of the file in the entries
  bool last = false;       // the file's last block
  size_t window = 0;       // bytes of the file before the block, at input's start
  size_t dataBytes = 0;    // the block's own bytes, after the window
  std::vector<uint8_t> input;
  std::vector<uint8_t> output;
  size_t outputBytes = 0;  // raw deflate (none at level 0)
  uint32_t crc = 0;        // CRC-32 of the block's own bytes
  std::string error;       // set instead of data: the file could not be read whole
  bool ready = false;      // deflated (or failed), for the caller to take
};

class BlockPipeline {
 public:
  // Starts reading the files among entries (folders and empty files have
  // no blocks) and deflating at the level (0: CRC-32 only) on `threads`
  // threads, 0 for one per core.
  BlockPipeline(const std::vector<SourceEntry>& entries, int level, unsigned threads);
  // Stops the threads wherever they are and waits for them.
  ~BlockPipeline();
  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  // The next block in file order, once ready; null after the last one. It
  // stays the caller's until handed back with Release. A block with an
  // error is the last one given.
  DeflateBlock* Next();
  void Release(DeflateBlock* block);

  unsigned Threads() const { return threadCount_; }

 private:
  void ReadFiles();
  bool ReadFile(size_t index);
  DeflateBlock* TakeFree();
  void Publish(DeflateBlock* block, bool toWork);
  void Deflate();

  const std::vector<SourceEntry>& entries_;
  const int level_;
  unsigned threadCount_ = 1;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<DeflateBlock>> pool_;
  std::vector<DeflateBlock*> free_;
  std::deque<DeflateBlock*> work_;   // cut, waiting for a worker
  std::deque<DeflateBlock*> order_;  // cut and not yet taken, in file order
  bool stopping_ = false;
  bool readingDone_ = false;
  std::vector<std::thread> threads_;
};

// Hands a block back to its pipeline when the scope ends.
class BlockLease {
 public:
  BlockLease(BlockPipeline* pipeline, DeflateBlock* block) : pipeline_(pipeline), block_(block) {}
  ~BlockLease() { pipeline_->Release(block_); }
  BlockLease(const BlockLease&) = delete;
  BlockLease& operator=(const BlockLease&) = delete;

 private:
  BlockPipeline* pipeline_;
  DeflateBlock* block_;
};

// A block's store decision is taken from a trial on its first bytes; a
// block shorter than that is always deflated.
constexpr size_t kTrialBytes = 64 * 1024;

// True when a quick deflate (level 1) of the first kTrialBytes saves less
// than 1 % of them: compressed or random data, where deflate at any level
// spends most of its time to save a fraction of a percent. Such a block is
// stored (as deflate's stored blocks, in the same stream). It asks deflate
// itself, not the byte counts: a block of every value in turn has even
// counts and deflates to nearly nothing. The trial sees the block's own
// bytes only, so the choice never depends on the threads. trial is a raw
// deflate stream at level 1, reset here.
bool DeflateSavesLittle(z_stream* trial, const uint8_t* data, size_t count);

// Deflates one block's data, primed with its window, into block->output
// (or stores it there, when deflate saves little on it): the work each thread
// does, exposed for tests. False when zlib fails.
bool DeflateOneBlock(DeflateBlock* block, int level);

}  // namespace sfx
