#include "codecs/Jpeg.h"

#include "base/FileCloser.h"
#include "base/Messages.h"
#include "codecs/ColourQuantiser.h"
#include "codecs/RowPipeline.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <thread>

#include <jerror.h>
#include <jpeglib.h>

namespace zv {

namespace {

// libjpeg reports failures through its error manager. Ours turns errors and
// warnings alike into a jump back to Guarded() with the formatted message kept.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// Level -1 is a warning (corrupt data, premature end of file): it stops the
// work like an error. Levels from 0 up are trace messages and are dropped.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ErrorExit(cinfo);
}

void InitErrorManager(ErrorManager& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = ErrorExit;
  err.pub.emit_message = EmitMessage;
  err.message[0] = '\0';
}

// The only frame that calls setjmp. Its locals are trivially destructible, and
// so are those of every body it runs at each point where libjpeg may jump
// back here. C++ exceptions thrown by a body (outside libjpeg calls) pass
// through normally. Returns false when libjpeg reported an error or warning.
bool Guarded(ErrorManager* err, void (*body)(void*), void* context) {
  if (setjmp(err->jump) != 0) return false;
  body(context);
  return true;
}

// Every scan of a progressive file passes over the whole picture, and a scan
// that changes nothing costs a few bytes: a small file with thousands of them
// keeps the decoder busy for minutes. Encoders write at most about 100.
constexpr int MaxScans = 200;

// libjpeg calls this for every row of blocks it takes in.
void LimitScans(j_common_ptr cinfo) {
  if (!cinfo->is_decompressor) return;
  const int scan = reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number;
  if (scan <= MaxScans) return;
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  msg::FormatJpegTooManyScans(err->message, sizeof err->message, MaxScans);
  std::longjmp(err->jump, 1);
}

// Owners of libjpeg objects, kept outside the guarded frame. Destroying a
// zeroed object is harmless, so creation itself may fail under the guard.
struct Decompressor {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  jpeg_progress_mgr progress{};
  Decompressor() {
    std::memset(&cinfo, 0, sizeof cinfo);
    InitErrorManager(err);
    cinfo.err = &err.pub;
    progress.progress_monitor = LimitScans;
  }
  ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
};

// A memory destination that grows a vector the caller owns, so that one
// vector may serve tile after tile with its capacity. The bytes live outside
// libjpeg's pool, so they are freed however the compression ends.
struct Destination {
  jpeg_destination_mgr pub;
  std::vector<std::uint8_t>* out = nullptr;
};

// Called from libjpeg's frames, which may longjmp: nothing here may throw,
// and no object with a destructor may be left behind.
bool Resize(std::vector<std::uint8_t>& out, std::size_t size) noexcept {
  try {
    out.resize(size);
    return true;
  } catch (...) {
    return false;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  constexpr std::size_t initial = 64 * 1024;
  if (!Resize(*dest->out, std::max(initial, dest->out->capacity()))) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 10);
  dest->pub.next_output_byte = dest->out->data();
  dest->pub.free_in_buffer = dest->out->size();
}

boolean EmptyDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  // libjpeg calls this only with the whole buffer full.
  const std::size_t full = dest->out->size();
  if (!Resize(*dest->out, full * 2)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 11);
  dest->pub.next_output_byte = dest->out->data() + full;
  dest->pub.free_in_buffer = dest->out->size() - full;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<Destination*>(cinfo->dest);
  dest->out->resize(dest->out->size() - dest->pub.free_in_buffer); // shrinking never reallocates
}

struct Compressor {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination dest;
  explicit Compressor(std::vector<std::uint8_t>& out) {
    std::memset(&cinfo, 0, sizeof cinfo);
    InitErrorManager(err);
    cinfo.err = &err.pub;
    dest.pub.init_destination = InitDestination;
    dest.pub.empty_output_buffer = EmptyDestination;
    dest.pub.term_destination = TermDestination;
    dest.out = &out;
  }
  ~Compressor() { jpeg_destroy_compress(&cinfo); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
};

J_DCT_METHOD DctOf(TDCTMethod m) {
  switch (m) {
  case TDCTMethod::Integ: return JDCT_ISLOW;
  case TDCTMethod::FastInteg: return JDCT_IFAST;
  case TDCTMethod::FloatingPoint: return JDCT_FLOAT;
  }
  return JDCT_ISLOW;
}

J_DITHER_MODE DitherOf(TDither d) {
  switch (d) {
  case TDither::None: return JDITHER_NONE;
  case TDither::FS: return JDITHER_FS;
  case TDither::Ordered: return JDITHER_ORDERED;
  }
  return JDITHER_FS;
}

// Percentage reporting shared by decoding and encoding.
struct Progress {
  TJPEGImage* sender;
  int step;
  int last;
  void Report(JDIMENSION done, JDIMENSION total) {
    if (!sender || !sender->OnProgress || total == 0) return;
    const int percent = static_cast<int>(std::uint64_t{done} * 100 / total);
    if (percent != last && percent % step == 0) {
      last = percent;
      sender->OnProgress(*sender);
    }
  }
};

// Everything but the picture: the compressed data and the options.
struct JpegSettings {
  std::vector<std::uint8_t> data;
  TNumOfColors numOfColors = TNumOfColors::_256;
  TDCTMethod dctMethod = TDCTMethod::Integ;
  TDither dither = TDither::FS;
  bool fastProcessing = false;
  bool grayScale = false;
  bool noSmooth = false;
  bool onePass = false;
  std::uint8_t quality = 75;
  bool progressive = false;
  int progressStep = 10;
  TQuantiser quantiser = TQuantiser::Automatic;
};

} // namespace

struct TJPEGImage::State : JpegSettings {
  std::unique_ptr<Bitmap> picture;
};

namespace {

struct DecodeJob {
  jpeg_decompress_struct* cinfo;
  const JpegSettings* s;
  const std::uint8_t* data;
  std::size_t size;
  Bitmap* out;
  Progress progress;
  // Set when the caller handed its bytes over; tail keeps what libjpeg has
  // not read yet once they are released.
  std::vector<std::uint8_t>* owned = nullptr;
  std::vector<std::uint8_t> tail;
  jpeg_progress_mgr* scanLimit = nullptr;
  PixelFormat format = PixelFormat::pf24bit;
  bool multipleScans = false; // libjpeg then holds every coefficient
  // Told about the data read so far in a pass, up to reported.
  const JpegInputRead* inputRead = nullptr;
  const std::uint8_t* reported = nullptr;
};

// Kept out of the guarded frames: tells the caller how far libjpeg has read.
void ReportInputRead(DecodeJob& job) {
  if (!job.inputRead || !*job.inputRead) return;
  const std::uint8_t* at = job.cinfo->src->next_input_byte;
  // Past the end libjpeg reads a marker of its own.
  if (at < job.data || at > job.data + job.size || at <= job.reported) return;
  (*job.inputRead)(job.reported, static_cast<std::size_t>(at - job.reported));
  job.reported = at;
}

// Kept out of the guarded frames: once libjpeg has read nearly all the input,
// the rest is moved into a small buffer and the caller's bytes are freed.
void ReleaseConsumedInput(DecodeJob& job) {
  jpeg_source_mgr* src = job.cinfo->src;
  if (!job.owned || src->bytes_in_buffer > 65536) return;
  job.tail.assign(src->next_input_byte, src->next_input_byte + src->bytes_in_buffer);
  src->next_input_byte = job.tail.data();
  std::vector<std::uint8_t>().swap(*job.owned);
}

// Bytes of entropy-coded data: what follows each SOS segment up to the next
// marker that is no restart marker. Comments, application segments, tables
// and bytes after the end fill no pixel, so they do not count.
std::size_t EntropyCodedBytes(const std::uint8_t* data, std::size_t size) {
  std::size_t total = 0;
  std::size_t pos = 2; // after SOI
  while (pos + 4 <= size) {
    if (data[pos] != 0xFF) { // stray bytes: libjpeg warns and skips them
      ++pos;
      continue;
    }
    const std::uint8_t marker = data[pos + 1];
    if (marker == 0xFF) { // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) { // no length
      pos += 2;
      continue;
    }
    if (marker == 0xD9) break; // EOI
    const std::size_t end = pos + 2 + (std::size_t{data[pos + 2]} << 8 | data[pos + 3]);
    if (marker != 0xDA) {
      pos = end;
      continue;
    }
    std::size_t p = end;
    while (p + 1 < size) {
      const auto* ff = static_cast<const std::uint8_t*>(std::memchr(data + p, 0xFF, size - p - 1));
      if (!ff) {
        p = size;
        break;
      }
      p = static_cast<std::size_t>(ff - data);
      const std::uint8_t next = data[p + 1];
      if (next != 0 && next != 0xFF && (next < 0xD0 || next > 0xD7)) break;
      ++p;
    }
    p = std::min(p, size);
    if (p > end) total += p - end;
    pos = std::max(p, end);
  }
  return total;
}

// Huffman-coded data spends at least one bit on every 8 x 8 luminance block,
// so a file holds at least one byte for every 512 pixels. Arithmetic coding
// can go below that without any warning, so a tiny file could make libjpeg
// reserve and fill gigabytes. Refuse files with far less entropy-coded data
// than that (eight times the bound), small pictures aside.
void CheckDataCanFill(JDIMENSION width, JDIMENSION height, std::size_t size) {
  const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
  const std::uint64_t budget = std::max<std::uint64_t>(std::uint64_t{1} << 24, static_cast<std::uint64_t>(size) * 4096);
  if (pixels > budget) throw EJPEGException(msg::JpegDataTooShort(width, height));
}

// Kept out of the guarded frames: builds the output raster and its colour table.
void MakeOutput(Bitmap& out, const jpeg_decompress_struct& cinfo, PixelFormat format) {
  out = Bitmap(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), format);
  if (format != PixelFormat::pf8bit) return;
  std::vector<Rgb>& palette = out.Palette();
  if (cinfo.quantize_colors) {
    const bool grey = cinfo.out_color_components == 1;
    palette.resize(static_cast<std::size_t>(cinfo.actual_number_of_colors));
    for (std::size_t i = 0; i < palette.size(); ++i) {
      const auto r = static_cast<std::uint8_t>(cinfo.colormap[0][i]);
      palette[i] = grey ? Rgb{r, r, r}
                        : Rgb{r, static_cast<std::uint8_t>(cinfo.colormap[1][i]),
                              static_cast<std::uint8_t>(cinfo.colormap[2][i])};
    }
  } else {
    palette.resize(256);
    for (std::size_t i = 0; i < 256; ++i) palette[i] = Rgb{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i)};
  }
}

// Reads the header and applies the options, in their fixed order; whatever
// they leave keeps libjpeg's default.
void ReadHeaderBody(void* context) {
  auto* job = static_cast<DecodeJob*>(context);
  jpeg_decompress_struct* cinfo = job->cinfo;
  const JpegSettings& s = *job->s;

  jpeg_create_decompress(cinfo);
  cinfo->progress = job->scanLimit;
  // COM and APPn markers are not saved: nothing asks for them.
  jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
  jpeg_read_header(cinfo, TRUE);

  // Only greyscale and RGB make a bitmap. Asking RGB of a CMYK or YCCK file
  // lets libjpeg refuse the conversion with its own message.
  if (cinfo->jpeg_color_space != JCS_GRAYSCALE) cinfo->out_color_space = JCS_RGB;

  if (s.numOfColors == TNumOfColors::TrueColor) {
    cinfo->quantize_colors = FALSE;
  } else {
    cinfo->quantize_colors = TRUE;
    cinfo->desired_number_of_colors = s.numOfColors == TNumOfColors::_16 ? 16 : 256;
  }
  cinfo->dct_method = DctOf(s.dctMethod);
  cinfo->dither_mode = DitherOf(s.dither);
  if (s.fastProcessing) {
    cinfo->two_pass_quantize = FALSE;
    cinfo->dither_mode = JDITHER_ORDERED;
    cinfo->dct_method = JDCT_IFAST;
    cinfo->do_fancy_upsampling = FALSE;
  }
  if (s.grayScale) cinfo->out_color_space = JCS_GRAYSCALE;
  if (s.noSmooth) cinfo->do_fancy_upsampling = FALSE;
  if (s.onePass) cinfo->two_pass_quantize = FALSE;

  // 256 grey levels already hold every grey sample: quantising them again
  // would only dither some samples a level off.
  if (cinfo->out_color_space == JCS_GRAYSCALE && cinfo->quantize_colors && cinfo->desired_number_of_colors >= 256)
    cinfo->quantize_colors = FALSE;

  job->format =
      cinfo->quantize_colors || cinfo->out_color_space == JCS_GRAYSCALE ? PixelFormat::pf8bit : PixelFormat::pf24bit;
  job->multipleScans = jpeg_has_multiple_scans(cinfo);
}

// Pictures from this size on take the streaming quantiser by default. Below
// it, decoding twice and setting up the histogram, the inverse colour map and
// the threads cost more than libjpeg's RGB copy of at most 3 MiB saves.
constexpr std::uint64_t StreamingFromPixels = 1 << 20;

// Whether the streaming quantiser does what libjpeg's would: two passes with
// Floyd-Steinberg dithering onto RGB colours. The rest stays with libjpeg.
bool StreamingQuantiserCovers(const jpeg_decompress_struct& cinfo, const JpegSettings& s) {
  const std::uint64_t pixels = std::uint64_t{cinfo.image_width} * cinfo.image_height;
  const bool wanted =
      s.quantiser == TQuantiser::Streaming || (s.quantiser == TQuantiser::Automatic && pixels >= StreamingFromPixels);
  return wanted && cinfo.quantize_colors && cinfo.two_pass_quantize && cinfo.dither_mode == JDITHER_FS &&
         cinfo.out_color_space == JCS_RGB && cinfo.desired_number_of_colors >= 8 &&
         cinfo.desired_number_of_colors <= 256;
}

// Rows in one block of the streaming decoder, and the blocks' bytes.
constexpr std::size_t StreamBlockBytes = 512 * 1024;
constexpr int MaxStreamBlockRows = 64;
int StreamBlockRows(std::size_t rowBytes) {
  return static_cast<int>(std::clamp<std::size_t>(StreamBlockBytes / rowBytes, 1, MaxStreamBlockRows));
}

// What libjpeg holds beside the picture while it decodes: a few rows of
// samples for each component, the whole file's coefficients when it comes
// in several scans, and the whole RGB picture for its two-pass quantiser.
std::uint64_t LibjpegWorkingBytes(const jpeg_decompress_struct* cinfo, bool multipleScans, bool wholeRgbPicture) {
  const std::uint64_t width = cinfo->image_width, height = cinfo->image_height;
  std::uint64_t bytes = 1 << 20;
  for (int c = 0; c < cinfo->num_components; ++c) {
    const jpeg_component_info& comp = cinfo->comp_info[c];
    const std::uint64_t blocks = std::uint64_t{comp.width_in_blocks} * comp.height_in_blocks;
    bytes += std::uint64_t{comp.width_in_blocks} * 8 * 3 * static_cast<std::uint64_t>(comp.v_samp_factor) * 8;
    if (multipleScans) bytes += blocks * 64 * sizeof(JCOEF);
  }
  bytes += width * 3 * 2 * static_cast<std::uint64_t>(cinfo->max_v_samp_factor) * 8;
  if (wholeRgbPicture) bytes += width * height * 3;
  return bytes;
}

// What the streaming quantiser holds beside the picture: its row blocks,
// histograms, inverse colour map and error row.
std::uint64_t StreamingWorkingBytes(std::uint64_t width, int workers) {
  const std::uint64_t rowBytes = 3 * width;
  const std::uint64_t block = static_cast<std::uint64_t>(StreamBlockRows(rowBytes)) * rowBytes;
  const auto threads = static_cast<std::uint64_t>(workers) + 1;
  return block * (2 * threads + 2) + threads * ColourHistogram::Cells * 4 + ColourHistogram::Cells * 2 +
         (width + 2) * 3 * sizeof(int);
}

// Worker threads for the histogram pass: one per processor, besides the
// decoding thread (which mostly waits once its blocks are queued).
int HistogramWorkers(std::uint64_t pixels) {
  const unsigned processors = std::thread::hardware_concurrency();
  return PipelineWorkers(pixels, static_cast<int>(std::clamp(processors, 1u, 4u)));
}

// Every check that needs no pixel runs before the first one is decoded.
void CheckBeforeDecoding(DecodeJob& job, bool streaming) {
  jpeg_decompress_struct* cinfo = job.cinfo;
  CheckImageSize(cinfo->image_width, cinfo->image_height, job.format);
  CheckDataCanFill(cinfo->image_width, cinfo->image_height, EntropyCodedBytes(job.data, job.size));
  // The scan read the whole file; decoding starts again from the start.
  job.reported = job.data;
  if (job.inputRead && *job.inputRead) (*job.inputRead)(job.data, job.size);
  const std::uint64_t pixels = std::uint64_t{cinfo->image_width} * cinfo->image_height;
  const std::uint64_t working = streaming ? LibjpegWorkingBytes(cinfo, job.multipleScans, false) +
                                                StreamingWorkingBytes(cinfo->image_width, HistogramWorkers(pixels))
                                          : LibjpegWorkingBytes(cinfo, job.multipleScans,
                                                                cinfo->quantize_colors && cinfo->two_pass_quantize &&
                                                                    cinfo->out_color_space == JCS_RGB);
  CheckPictureFits(cinfo->image_width, cinfo->image_height, job.format, working);
}

// The decode by libjpeg alone, after ReadHeaderBody.
void LibjpegDecodeBody(void* context) {
  auto* job = static_cast<DecodeJob*>(context);
  jpeg_decompress_struct* cinfo = job->cinfo;

  jpeg_start_decompress(cinfo);
  ReleaseConsumedInput(*job);
  ReportInputRead(*job);
  MakeOutput(*job->out, *cinfo, job->format);

  // Scanlines go straight into the bitmap's rows.
  JSAMPROW rows[16];
  while (cinfo->output_scanline < cinfo->output_height) {
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION batch = std::min<JDIMENSION>(16, cinfo->output_height - first);
    for (JDIMENSION i = 0; i < batch; ++i) rows[i] = job->out->Row(static_cast<int>(first + i));
    jpeg_read_scanlines(cinfo, rows, batch);
    job->progress.Report(cinfo->output_scanline, cinfo->output_height);
    ReportInputRead(*job);
  }
  jpeg_finish_decompress(cinfo);
}

// One pass of the streaming decoder: RGB rows, block by block, into a pipeline.
struct StreamJob {
  DecodeJob* decode;
  RowPipeline* pipe;
  int blockRows;
  std::size_t rowBytes;
  bool last; // the pass that may release the input and reports progress
};

void StreamBody(void* context) {
  auto* job = static_cast<StreamJob*>(context);
  jpeg_decompress_struct* cinfo = job->decode->cinfo;
  cinfo->quantize_colors = FALSE;
  jpeg_start_decompress(cinfo);
  if (job->last) ReleaseConsumedInput(*job->decode);
  JSAMPROW rows[MaxStreamBlockRows];
  while (cinfo->output_scanline < cinfo->output_height) {
    RowPipeline::Block* block = job->pipe->Acquire();
    const JDIMENSION first = cinfo->output_scanline;
    const JDIMENSION count =
        std::min<JDIMENSION>(static_cast<JDIMENSION>(job->blockRows), cinfo->output_height - first);
    for (JDIMENSION i = 0; i < count; ++i) rows[i] = block->bytes.data() + i * job->rowBytes;
    // The last pass reads row by row, so that progress is seen at every row.
    const JDIMENSION step = job->last ? 1 : count;
    for (JDIMENSION done = 0; done < count;) {
      done += jpeg_read_scanlines(cinfo, rows + done, std::min(step, count - done));
      if (job->last) job->decode->progress.Report(cinfo->output_scanline, cinfo->output_height);
    }
    block->first = static_cast<int>(first);
    block->rows = static_cast<int>(count);
    job->pipe->Publish(block);
    ReportInputRead(*job->decode);
  }
  jpeg_finish_decompress(cinfo);
}

// Runs one streaming pass; the pipeline's workers stop however it ends.
void StreamPass(DecodeJob& job, ErrorManager& err, RowPipeline& pipe, bool last) {
  const std::size_t rowBytes = 3 * std::size_t{job.cinfo->image_width};
  StreamJob stream{&job, &pipe, StreamBlockRows(rowBytes), rowBytes, last};
  job.reported = job.data;
  if (!Guarded(&err, StreamBody, &stream)) throw EJPEGException(err.message);
  pipe.Finish();
}

// The two-pass quantiser without the RGB picture: the first decode counts
// colours (split among workers, each with its own histogram), the colours are
// chosen, and the second decode is dithered row by row into the picture by a
// worker while the decoder goes on. d has read the header.
void DecodeStreaming(DecodeJob& job, Decompressor& d) {
  const int width = static_cast<int>(d.cinfo.image_width);
  const int height = static_cast<int>(d.cinfo.image_height);
  const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
  const std::size_t blockBytes = static_cast<std::size_t>(StreamBlockRows(rowBytes)) * rowBytes;
  const int wanted = d.cinfo.desired_number_of_colors;
  const int workers = HistogramWorkers(std::uint64_t{d.cinfo.image_width} * d.cinfo.image_height);

  std::vector<ColourHistogram> histograms(static_cast<std::size_t>(std::max(workers, 1)));
  {
    RowPipeline pipe(blockBytes, 2 * workers + 2, workers, [&](int worker, const RowPipeline::Block& b) {
      histograms[static_cast<std::size_t>(worker)].AddPixels(b.bytes.data(), static_cast<std::size_t>(b.rows) * width);
    });
    StreamPass(job, d.err, pipe, false);
  }
  for (std::size_t i = 1; i < histograms.size(); ++i) histograms[0].Add(histograms[i]);
  const std::vector<Rgb> palette = ChooseColours(histograms[0], wanted);
  histograms.clear();

  Decompressor second;
  job.cinfo = &second.cinfo;
  job.scanLimit = &second.progress;
  if (!Guarded(&second.err, ReadHeaderBody, &job)) throw EJPEGException(second.err.message);
  Bitmap& out = *job.out;
  out = Bitmap(width, height, PixelFormat::pf8bit);
  out.Palette() = palette;
  FloydSteinbergDitherer ditherer(palette, width);
  RowPipeline pipe(blockBytes, 4, workers > 0 ? 1 : 0, [&](int, const RowPipeline::Block& b) {
    for (int r = 0; r < b.rows; ++r)
      ditherer.DitherRow(b.bytes.data() + static_cast<std::size_t>(r) * rowBytes, out.Row(b.first + r));
  });
  StreamPass(job, second.err, pipe, true);
}

struct EncodeJob {
  jpeg_compress_struct* cinfo;
  jpeg_destination_mgr* dest;
  const JpegSettings* s;
  const Bitmap* picture;
  std::uint8_t* scratch; // one RGB row, for pictures that are not 24-bit
  Progress progress;
};

// Kept out of the guarded frames: one row of an indexed picture as RGB.
void ExpandRow(const Bitmap& picture, int y, std::uint8_t* out) {
  Bitmap row(picture.Width(), 1, PixelFormat::pf24bit);
  row.CopyRect(0, 0, picture, 0, y, picture.Width(), 1);
  std::memcpy(out, row.Row(0), row.Stride());
}

void EncodeBody(void* context) {
  auto* job = static_cast<EncodeJob*>(context);
  jpeg_compress_struct* cinfo = job->cinfo;
  const JpegSettings& s = *job->s;
  const Bitmap& picture = *job->picture;

  jpeg_create_compress(cinfo);
  cinfo->dest = job->dest;
  cinfo->image_width = static_cast<JDIMENSION>(picture.Width());
  cinfo->image_height = static_cast<JDIMENSION>(picture.Height());
  cinfo->input_components = 3;
  cinfo->in_color_space = JCS_RGB;
  jpeg_set_defaults(cinfo);
  // YCbCr with a JFIF header, luminance sampled 2x2, chroma 1x1.
  jpeg_default_colorspace(cinfo);
  if (s.grayScale) jpeg_set_colorspace(cinfo, JCS_GRAYSCALE);
  cinfo->dct_method = DctOf(s.dctMethod);
  cinfo->optimize_coding = s.fastProcessing ? FALSE : TRUE;
  // Baseline is not forced: low qualities keep their 16-bit quantisation tables.
  jpeg_set_quality(cinfo, s.quality, FALSE);
  if (s.progressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);

  JSAMPROW row[1];
  while (cinfo->next_scanline < cinfo->image_height) {
    const int y = static_cast<int>(cinfo->next_scanline);
    if (picture.Format() == PixelFormat::pf24bit) {
      // libjpeg only reads the input rows.
      row[0] = const_cast<JSAMPLE*>(picture.Row(y));
    } else {
      ExpandRow(picture, y, job->scratch);
      row[0] = job->scratch;
    }
    jpeg_write_scanlines(cinfo, row, 1);
    job->progress.Report(cinfo->next_scanline, cinfo->image_height);
  }
  jpeg_finish_compress(cinfo);
}

// Decodes data into a new picture; the old one stays on failure, and no data
// leaves no picture. sender, when given, gets the progress notifications.
void DecodeInto(TJPEGImage* sender, const JpegSettings& s, const std::uint8_t* data, std::size_t size,
                std::unique_ptr<Bitmap>& picture, std::vector<std::uint8_t>* owned = nullptr,
                const JpegInputRead* inputRead = nullptr) {
  if (size == 0) {
    picture.reset();
    return;
  }
  auto fresh = std::make_unique<Bitmap>();
  Decompressor d;
  DecodeJob job{&d.cinfo, &s, data, size, fresh.get(), Progress{sender, s.progressStep, 0}, owned, {}, &d.progress};
  job.inputRead = inputRead;
  if (!Guarded(&d.err, ReadHeaderBody, &job)) throw EJPEGException(d.err.message);
  const bool streaming = StreamingQuantiserCovers(d.cinfo, s);
  // Before libjpeg reserves its own whole-image buffers.
  CheckBeforeDecoding(job, streaming);
  if (streaming)
    DecodeStreaming(job, d);
  else if (!Guarded(&d.err, LibjpegDecodeBody, &job))
    throw EJPEGException(d.err.message);
  picture = std::move(fresh);
}

void Decode(TJPEGImage& image, const JpegSettings& s, std::unique_ptr<Bitmap>& picture) {
  DecodeInto(&image, s, s.data.data(), s.data.size(), picture);
}

} // namespace

TJPEGImage::TJPEGImage() : s_(std::make_unique<State>()) {}

// Decoding options take effect at once: the buffer is decoded again.
template <typename T> void TJPEGImage::SetDecodingOption(T& option, T value) {
  option = value;
  Decode(*this, *s_, s_->picture);
}
TJPEGImage::~TJPEGImage() = default;

TNumOfColors TJPEGImage::NumOfColors() const { return s_->numOfColors; }
void TJPEGImage::SetNumOfColors(TNumOfColors v) { SetDecodingOption(s_->numOfColors, v); }
TDCTMethod TJPEGImage::DCTMethod() const { return s_->dctMethod; }
void TJPEGImage::SetDCTMethod(TDCTMethod v) { SetDecodingOption(s_->dctMethod, v); }
TDither TJPEGImage::Dither() const { return s_->dither; }
void TJPEGImage::SetDither(TDither v) { SetDecodingOption(s_->dither, v); }
bool TJPEGImage::FastProcessing() const { return s_->fastProcessing; }
void TJPEGImage::SetFastProcessing(bool v) { SetDecodingOption(s_->fastProcessing, v); }
bool TJPEGImage::GrayScale() const { return s_->grayScale; }
void TJPEGImage::SetGrayScale(bool v) { SetDecodingOption(s_->grayScale, v); }
bool TJPEGImage::NoSmooth() const { return s_->noSmooth; }
void TJPEGImage::SetNoSmooth(bool v) { SetDecodingOption(s_->noSmooth, v); }
bool TJPEGImage::OnePass() const { return s_->onePass; }
void TJPEGImage::SetOnePass(bool v) { SetDecodingOption(s_->onePass, v); }
void TJPEGImage::SetQuantiser(TQuantiser v) { SetDecodingOption(s_->quantiser, v); }
std::uint8_t TJPEGImage::Quality() const { return s_->quality; }
void TJPEGImage::SetQuality(std::uint8_t v) { s_->quality = v; }
bool TJPEGImage::Progressive() const { return s_->progressive; }
void TJPEGImage::SetProgressive(bool v) { s_->progressive = v; }
int TJPEGImage::ProgressStep() const { return s_->progressStep; }
void TJPEGImage::SetProgressStep(int v) { s_->progressStep = std::clamp(v, 1, 100); }

void TJPEGImage::LoadFromMemory(const std::uint8_t* data, std::size_t size) {
  if (data && size > 0)
    s_->data.assign(data, data + size);
  else
    s_->data.clear();
  Decode(*this, *s_, s_->picture);
}

const Bitmap* TJPEGImage::Picture() const { return s_->picture.get(); }

void TJPEGImage::AssignPicture(const Bitmap& bitmap) { s_->picture = std::make_unique<Bitmap>(bitmap); }

namespace {

// The one encoder path: replaces out's contents with the encoded picture.
// On failure out holds no useful bytes.
void Encode(const JpegSettings& s, const Bitmap& picture, TJPEGImage* sender, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t> scratch(
      picture.Format() == PixelFormat::pf24bit ? 0 : 3 * static_cast<std::size_t>(picture.Width()));
  Compressor c(out);
  EncodeJob job{&c.cinfo, &c.dest.pub, &s, &picture, scratch.data(), Progress{sender, s.progressStep, 0}};
  if (!Guarded(&c.err, EncodeBody, &job)) throw EJPEGException(c.err.message);
}

// Writes what encode puts into its vector to fileName, which is created
// first, and so even when there is nothing to encode.
template <class EncodeTo> void EncodeToFile(const std::string& fileName, EncodeTo&& encode) {
  UniqueFile file(std::fopen(fileName.c_str(), "wb"));
  if (!file) ThrowCannotCreate(fileName);
  std::vector<std::uint8_t> bytes;
  encode(bytes);
  if ((!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) ||
      std::fclose(file.release()) != 0)
    ThrowCannotCreate(fileName);
}

} // namespace

void TJPEGImage::SaveToMemory(std::vector<std::uint8_t>& out) const {
  const Bitmap* picture = s_->picture.get();
  if (!picture) return;
  // out stays as it was when encoding fails.
  std::vector<std::uint8_t> bytes;
  Encode(*s_, *picture, const_cast<TJPEGImage*>(this), bytes);
  out = std::move(bytes);
}

void TJPEGImage::SaveToFile(const std::string& fileName) const {
  EncodeToFile(fileName, [&](std::vector<std::uint8_t>& bytes) {
    if (const Bitmap* picture = s_->picture.get()) Encode(*s_, *picture, const_cast<TJPEGImage*>(this), bytes);
  });
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap) {
  // What a default adapter would do, decoding the caller's bytes in place
  // and handing over the picture instead of copying it.
  const JpegSettings defaults;
  std::unique_ptr<Bitmap> picture;
  DecodeInto(nullptr, defaults, data, data ? size : 0, picture);
  bitmap = picture ? std::move(*picture) : Bitmap();
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, const JpegInputRead& inputRead) {
  const JpegSettings defaults;
  std::unique_ptr<Bitmap> picture;
  DecodeInto(nullptr, defaults, data, data ? size : 0, picture, nullptr, &inputRead);
  bitmap = picture ? std::move(*picture) : Bitmap();
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, Bitmap& bitmap, TQuantiser quantiser) {
  JpegSettings s;
  s.quantiser = quantiser;
  std::unique_ptr<Bitmap> picture;
  DecodeInto(nullptr, s, data, data ? size : 0, picture);
  bitmap = picture ? std::move(*picture) : Bitmap();
}

void DecodeJpeg(std::vector<std::uint8_t>&& data, Bitmap& bitmap) {
  const JpegSettings defaults;
  std::unique_ptr<Bitmap> picture;
  std::vector<std::uint8_t> owned = std::move(data);
  DecodeInto(nullptr, defaults, owned.data(), owned.size(), picture, &owned);
  bitmap = picture ? std::move(*picture) : Bitmap();
}

void EncodeJpegTile(const Bitmap& tile, std::uint8_t quality, std::vector<std::uint8_t>& out) {
  // What an adapter given a copy of the tile would write. A 24-bit tile is
  // only read, so it is encoded where it lies.
  JpegSettings s;
  s.numOfColors = TNumOfColors::TrueColor;
  s.quality = quality;
  if (tile.Format() == PixelFormat::pf24bit) {
    Encode(s, tile, nullptr, out);
    return;
  }
  Bitmap rgb(tile.Width(), tile.Height(), PixelFormat::pf24bit);
  rgb.CopyRect(0, 0, tile, 0, 0, tile.Width(), tile.Height());
  Encode(s, rgb, nullptr, out);
}

void SaveJpegTile(const Bitmap& tile, std::uint8_t quality, const std::string& fileName) {
  EncodeToFile(fileName, [&](std::vector<std::uint8_t>& bytes) { EncodeJpegTile(tile, quality, bytes); });
}

} // namespace zv
