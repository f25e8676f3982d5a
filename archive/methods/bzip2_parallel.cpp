#include "archive/methods/bzip2_parallel.h"

#include <bzlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "archive/methods/bzip2_blocks.h"

namespace velmora {

namespace {

// One stretch from a block magic to the next magic, and what became of it.
struct Segment {
  uint64_t begin_bit = 0;
  uint64_t end_bit = 0;
  uint32_t block_crc = 0;  // as stored after the magic
  bool last = false;       // the end magic follows
  enum class State { kWaiting, kDecoding, kGood, kBad } state = State::kWaiting;
  std::unique_ptr<uint8_t[]> output;
  size_t output_size = 0;
};

// libbz2 hands out at most this much per call, so that a stop is seen
// within one call's work.
constexpr size_t kDecodeStep = 8 << 20;

// Decodes a one-block stream into segment's output. False when libbz2 does
// not end the stream exactly at its last byte, the output passes limit
// bytes, or stop is set.
bool DecodeOneBlockStream(const std::vector<uint8_t>& stream, int level, uint64_t limit,
                          const std::atomic<bool>& stop, Segment& segment) {
  bz_stream z{};
  if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK) return false;
  struct Ender {
    bz_stream& z;
    ~Ender() { BZ2_bzDecompressEnd(&z); }
  } ender{z};
  z.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(stream.data()));
  z.avail_in = static_cast<unsigned>(stream.size());
  // Room for limit + 1 bytes at most, so that one more shows.
  const uint64_t most = limit + 1;
  size_t capacity =
      static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(level) * 100000 + 65536, most));
  std::unique_ptr<uint8_t[]> output(new uint8_t[capacity]);
  size_t size = 0;
  for (;;) {
    if (stop.load(std::memory_order_relaxed)) return false;
    if (size == capacity) {
      if (capacity >= most) return false;
      const auto grown = static_cast<size_t>(std::min<uint64_t>(uint64_t{capacity} * 2, most));
      std::unique_ptr<uint8_t[]> bigger(new uint8_t[grown]);
      std::copy(output.get(), output.get() + size, bigger.get());
      output = std::move(bigger);
      capacity = grown;
    }
    const size_t step = std::min(capacity - size, kDecodeStep);
    z.next_out = reinterpret_cast<char*>(output.get() + size);
    z.avail_out = static_cast<unsigned>(step);
    const int rc = BZ2_bzDecompress(&z);
    size += step - z.avail_out;
    if (rc == BZ_STREAM_END) {
      if (z.avail_in != 0 || size > limit) return false;
      segment.output = std::move(output);
      segment.output_size = size;
      return true;
    }
    // Wanting input when all is given: the block runs past the segment.
    if (rc != BZ_OK || (z.avail_in == 0 && z.avail_out != 0)) return false;
  }
}

// The segments from the first not yet passed on, found a few ahead of the
// workers, and the workers decoding them.
class BlockPool {
 public:
  BlockPool(std::span<const uint8_t> packed, int level, uint64_t limit)
      : packed_(packed),
        finder_(packed),
        level_(level),
        limit_(limit),
        max_block_bits_(Bzip2MaxBlockBits(level)) {}

  ~BlockPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }

  // Finds the first segment; false when the stream does not start with a
  // block that another follows (nothing to share out).
  bool FindFirst() {
    if (finder_.Bits(kBzip2HeaderBits, kBzip2MagicBits) != kBzip2BlockMagic) return false;
    next_begin_ = kBzip2HeaderBits;
    FindNextSegment();
    return !scan_failed_ && !window_.front()->last;
  }

  // Starts the workers; false when the system gives no thread at all.
  bool Start(int threads) {
    // A block of level 9 can take ~46 MB decoded: keep only a few ahead,
    // but two more than the workers, so that one that finishes a block
    // before the one ahead of it has another to go on with.
    max_window_ = static_cast<size_t>(threads) + 2;
    try {
      for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (const std::exception&) {  // no more threads: the ones started do the work
    }
    return !workers_.empty();
  }

  // The next segment in order once it is decoded (or found bad); nullptr
  // when the magics run out before the stream's end.
  std::unique_ptr<Segment> TakeNext() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (!window_.empty()) {
        const Segment::State state = window_.front()->state;
        if (state == Segment::State::kGood || state == Segment::State::kBad) {
          std::unique_ptr<Segment> next = std::move(window_.front());
          window_.pop_front();
          changed_.notify_all();
          return next;
        }
      } else if (scan_failed_) {
        return nullptr;
      }
      changed_.wait(lock);
    }
  }

  uint32_t StoredCombinedCrc() const { return stored_combined_crc_; }

 private:
  // Appends the segment from next_begin_ to the next magic to the window,
  // or marks the search failed: no magic follows, the stretch is too long
  // for a block, or the end magic is not followed by exactly the combined
  // CRC and the padding. Called under mutex_ (or before the workers start).
  void FindNextSegment() {
    const auto mark = finder_.Next(next_begin_ + 1);
    const uint64_t length = mark ? mark->bit - next_begin_ : 0;
    if (!mark || length > max_block_bits_ || length < kBzip2MagicBits + kBzip2CrcBits) {
      scan_failed_ = true;
      return;
    }
    auto segment = std::make_unique<Segment>();
    segment->begin_bit = next_begin_;
    segment->end_bit = mark->bit;
    segment->block_crc =
        static_cast<uint32_t>(finder_.Bits(next_begin_ + kBzip2MagicBits, kBzip2CrcBits));
    if (mark->end_of_stream) {
      const uint64_t stream_end = mark->bit + kBzip2MagicBits + kBzip2CrcBits;
      if (stream_end > finder_.BitSize() || (stream_end + 7) / 8 != packed_.size()) {
        scan_failed_ = true;
        return;
      }
      stored_combined_crc_ =
          static_cast<uint32_t>(finder_.Bits(mark->bit + kBzip2MagicBits, kBzip2CrcBits));
      segment->last = true;
      scan_done_ = true;
    }
    next_begin_ = mark->bit;
    window_.push_back(std::move(segment));
  }

  void Work() {
    std::vector<uint8_t> stream;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      Segment* job = nullptr;
      for (const auto& segment : window_) {
        if (segment->state == Segment::State::kWaiting) {
          job = segment.get();
          break;
        }
      }
      if (job == nullptr) {
        if (!scan_done_ && !scan_failed_ && window_.size() < max_window_) {
          try {
            FindNextSegment();
          } catch (...) {  // out of memory: the sequential decoder says so
            scan_failed_ = true;
          }
          changed_.notify_all();
        } else {
          changed_.wait(lock);
        }
        continue;
      }
      job->state = Segment::State::kDecoding;
      const uint64_t begin_bit = job->begin_bit, end_bit = job->end_bit;
      lock.unlock();
      bool good = false;
      try {
        BuildOneBlockStream(packed_, begin_bit, end_bit, level_, stream);
        good = DecodeOneBlockStream(stream, level_, limit_, stopping_, *job);
      } catch (...) {  // out of memory: the sequential decoder says so
        good = false;
      }
      lock.lock();
      job->state = good ? Segment::State::kGood : Segment::State::kBad;
      changed_.notify_all();
    }
  }

  std::span<const uint8_t> packed_;
  TBzip2MagicFinder finder_;
  int level_;
  uint64_t limit_;
  uint64_t max_block_bits_;
  size_t max_window_ = 2;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::unique_ptr<Segment>> window_;
  uint64_t next_begin_ = 0;
  bool scan_done_ = false;
  bool scan_failed_ = false;
  uint32_t stored_combined_crc_ = 0;
  bool stop_ = false;
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> workers_;
};

}  // namespace

bool DecodeBzip2Blocks(std::span<const uint8_t> packed, int threads, TAbChunkedOutput& out) {
  const int level = Bzip2StreamLevel(packed);
  if (level == 0 || threads < 2) return false;
  BlockPool pool(packed, level, static_cast<uint64_t>(std::max<int64_t>(out.Room(), 0)));
  try {
    if (!pool.FindFirst() || !pool.Start(threads)) return false;
  } catch (const std::bad_alloc&) {  // the sequential decoder needs less
    return false;
  }
  // The stream's CRC over its blocks' CRCs, as libbz2 keeps it.
  uint32_t combined = 0;
  for (;;) {
    const std::unique_ptr<Segment> segment = pool.TakeNext();
    if (!segment || segment->state == Segment::State::kBad) return false;
    combined = ((combined << 1) | (combined >> 31)) ^ segment->block_crc;
    out.Add(segment->output.get(), segment->output_size);
    if (segment->last) return combined == pool.StoredCombinedCrc();
  }
}

}  // namespace velmora
