// Reads a file one line at a time through one buffer filled by large reads: the tuning
// loader's input. Lines are handed over in place, so a file costs a handful of reads and no
// copy per line.
#pragma once

#include <cstddef>

// Bytes of the buffer a reader starts with. The fuzz build makes it small so that short
// inputs already cross the buffer's end, refill it and grow it.
#ifndef PLTFM_LINE_BUFFER_BYTES
#define PLTFM_LINE_BUFFER_BYTES (64 * 1024)
#endif

namespace pltfm::csv {

// Each line is handed over terminated by a NUL where its line feed was; a last line without a
// line feed is handed over as it is. A line may thus still hold a CR or a NUL: the line rules
// end a line at its first NUL, CR or LF. The buffer doubles whenever a line does not fit.
class LineReader {
  public:
    static constexpr std::size_t kDefaultBufferBytes = PLTFM_LINE_BUFFER_BYTES;

    // Reads from `fd`, which stays the caller's; the buffer starts at `first_size` bytes
    // (at least 1).
    explicit LineReader(int fd, std::size_t first_size = kDefaultBufferBytes) noexcept;
    ~LineReader();
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;

    // True with line() set, or false at the end of the file or on a read error (error()).
    bool next() noexcept;
    // The line the last next() returned; valid until the next call.
    const char *line() const noexcept { return line_; }
    // 0, or the errno of the failed read (ENOMEM when the buffer could not grow).
    int error() const noexcept { return error_; }

  private:
    bool fill() noexcept;
    bool grow() noexcept;

    int fd_;
    std::size_t first_size_;
    char *buf_ = nullptr;
    std::size_t size_ = 0;             // of buf_, less the byte for the NUL
    std::size_t begin_ = 0, end_ = 0;  // the part read but not handed over yet
    const char *line_ = nullptr;
    bool eof_ = false;
    int error_ = 0;
};

}  // namespace pltfm::csv
