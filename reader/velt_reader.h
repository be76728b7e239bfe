// Reads VELT files: checks the whole layout of an untrusted file and rebuilds
// its frames block by block, as a player must.
#ifndef VELT_READER_H
#define VELT_READER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The block mode a file was written in (the encoding flags' two low bits).
// The header only marks that some flag was set, so a reader is told the mode.
enum BlockMode {
  MODE_OPAQUE = 0,    // 8-byte records, four colours
  MODE_ALPHA = 1,     // 8-byte records, three-colour blocks may hold transparent pixels
  MODE_OPAQUE12 = 2,  // 12-byte records, three endpoints
  MODE_ALPHA12 = 3,   // 12-byte records, alpha layout when endpoint1 >= endpoint0
};

// 8 or 12.
int record_size_of(BlockMode mode);

struct VeltHeader {
  uint8_t rate_code;
  bool flags_marked;      // bit 7 of the rate code: the file was written with non-zero flags
  int fps;                // (rate code's low 7 or 8 bits + 1) / 2
  uint16_t frame_count;   // N source frames; the file holds N + 1 frame records
  int blocks_across;
  int blocks_down;
  int width;              // pixels
  int height;
};

// Where one frame record lies in the file and how many blocks it stores.
struct FrameRecordSpan {
  uint64_t offset;        // of its change map
  uint64_t size;          // change map plus block records
  uint32_t changed_blocks;
};

struct VeltLayout {
  VeltHeader header;
  BlockMode mode;
  std::vector<FrameRecordSpan> records;  // N + 1: frames 0..N-1, then the closing record
};

// Why a file was refused, and the byte offset where it goes wrong.
struct ReadError {
  uint64_t offset;
  std::string reason;
};

// Checks the whole file (magic, reserved byte, sizes, every change map and
// its padding bits, that record 0 stores every block, that exactly N + 1
// records fill the file with no byte left over) and fills `layout`.
// `mode` applies only when the rate code marks non-zero flags: a file whose
// rate code has bit 7 clear is read as MODE_OPAQUE, and layout->mode says
// which mode was used. A file that holds fewer than N + 1 records (a run
// that ended early) is refused at the offset where the next record should
// start. Returns false with `error` set on the first fault found; never reads
// outside [data, data + size) and allocates at most N + 1 spans, no more
// than the records the file holds.
bool read_velt_layout(const uint8_t* data, size_t size, BlockMode mode, VeltLayout* layout,
                      ReadError* error);

// Decodes one block record (record_size_of(mode) bytes) into 16 RGBA pixels,
// row-major, 64 bytes.
void decode_block(const uint8_t* record, BlockMode mode, uint8_t rgba[64]);

// Applies frame record `index` of a checked file to `picture` (width x
// height RGBA, row-major): each block whose change-map bit is set is
// replaced by its decoded record. Starting from any picture and applying
// records 0..k gives frame k (record N gives frame 0 again). `layout` must
// come from read_velt_layout on the same bytes; a picture of another size is
// resized first, and an index past the last record changes nothing.
void apply_frame_record(const uint8_t* data, const VeltLayout& layout, size_t index,
                        std::vector<uint8_t>* picture);

// Quality of a decoded picture against its source, RGB and alpha apart.
struct PictureError {
  uint64_t rgb_squared;    // sum over pixels of dR^2 + dG^2 + dB^2
  uint64_t alpha_squared;  // sum over pixels of dA^2
  uint64_t samples;        // pixels
};

// Peak signal-to-noise ratio in dB for `squared` summed over `count` samples
// of 8-bit values; infinity when squared is 0.
double psnr(uint64_t squared, uint64_t count);

// The errors of `pixels` RGBA pixels of `decoded` against `source`.
PictureError picture_error(const uint8_t* decoded, const uint8_t* source, size_t pixels);

// The errors of one 4x4 block (its top-left pixel at 4 * block_x, 4 * block_y)
// of two pictures `width` pixels wide.
PictureError block_error(const uint8_t* decoded, const uint8_t* source, int width, int block_x,
                         int block_y);

// Adds the sums of `part` to `total`, for errors over several frames.
void add_picture_error(PictureError* total, const PictureError& part);

// PSNR of the colour channels (three samples a pixel) and of alpha.
double rgb_psnr(const PictureError& error);
double alpha_psnr(const PictureError& error);

#endif
