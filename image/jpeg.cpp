// JPEG filter over libjpeg: reading from the file buffer, writing through the file layer.
#include <cstdio>  // jpeglib.h needs FILE

#include <jpeglib.h>
#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>
#include <string>

#include "base/errors.h"
#include "base/log.h"
#include "base/mem.h"
#include "base/scoped.h"
#include "image/formats.h"
#include "image/tl_bytes.h"
#include "image/tl_internal.h"

using namespace brisk::image;

namespace {

// libjpeg's standard error manager, with errors jumping back to the caller
// and messages kept quiet. The warnings that say the entropy data stopped
// early are noted: the rows after that point would be made up.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  bool dataEnded;
};

[[noreturn]] void OnError(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager *>(cinfo->err)->jump, 1); }
void OnMessage(j_common_ptr) {}
void OnEmit(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  const int code = cinfo->err->msg_code;
  if (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF) reinterpret_cast<ErrorManager *>(cinfo->err)->dataEnded = true;
  ++cinfo->err->num_warnings;
}

// --- reading --------------------------------------------------------------------

// The file buffer as libjpeg's input. Once it is used up, an end-of-image
// marker is given instead and the shortage is noted.
struct Source {
  jpeg_source_mgr pub;
  const unsigned char *data;
  size_t size;
  bool started;
  bool ranOut;
};

constexpr JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void InitSource(j_decompress_ptr) {}
void TermSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo) {
  auto *s = reinterpret_cast<Source *>(cinfo->src);
  if (!s->started) {
    s->started = true;
    s->pub.next_input_byte = s->data;
    s->pub.bytes_in_buffer = s->size;
  } else {
    s->ranOut = true;
    s->pub.next_input_byte = kEndOfImage;
    s->pub.bytes_in_buffer = sizeof kEndOfImage;
  }
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  auto *s = reinterpret_cast<Source *>(cinfo->src);
  if (count <= 0) return;
  if (!s->started) FillInput(cinfo);
  size_t n = static_cast<size_t>(count);
  if (n > s->pub.bytes_in_buffer) {
    s->ranOut = true;
    n = s->pub.bytes_in_buffer;
  }
  s->pub.next_input_byte += n;
  s->pub.bytes_in_buffer -= n;
}

struct ReadState {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  Source src;
  txBitmap *bitmap = nullptr;
  int code = SYS_ERR_NOMEM;
};

bool Decode(ReadState &st) {
  if (setjmp(st.err.jump)) return false;
  j_decompress_ptr cinfo = &st.cinfo;
  jpeg_create_decompress(cinfo);
  cinfo->src = &st.src.pub;
  jpeg_read_header(cinfo, TRUE);
  // Refuse sizes beyond the limits before libjpeg allocates for them.
  if (!PixelBytes(cinfo->image_width, cinfo->image_height, std::max(cinfo->num_components, 1))) {
    st.code = TX_ERR_SHORT;
    return false;
  }
  jpeg_start_decompress(cinfo);

  const int components = cinfo->output_components;
  auto bytes = PixelBytes(cinfo->output_width, cinfo->output_height, components);
  if (!bytes) {
    st.code = TX_ERR_SHORT;
    return false;
  }
  txBitmap *b = st.bitmap;
  b->width = static_cast<int>(cinfo->output_width);
  b->height = static_cast<int>(cinfo->output_height);
  b->bpp = components * 8;
  b->order = TX_ORDER_RGB;
  b->imageSize[0] = static_cast<unsigned>(*bytes);
  b->format = FormatOfDepth(b->bpp, false);
  b->image[0] = static_cast<unsigned char *>(SYS_MemGet(*bytes, "jpegRead: bitmap"));
  if (!b->image[0]) return false;
  const size_t stride = static_cast<size_t>(b->width) * components;
  // Rows decoded after the data ran out would be made up: stop there.
  while (cinfo->output_scanline < cinfo->output_height && !st.src.ranOut && !st.err.dataEnded) {
    JSAMPROW rows[4];
    JDIMENSION n = std::min<JDIMENSION>(4, cinfo->output_height - cinfo->output_scanline);
    for (JDIMENSION i = 0; i < n; ++i) rows[i] = b->image[0] + stride * (cinfo->output_scanline + i);
    if (jpeg_read_scanlines(cinfo, rows, n) == 0) break;
  }
  // Data that ran out before the last row is a short file; a missing end
  // marker alone is forgiven.
  if (st.src.ranOut || st.err.dataEnded || cinfo->output_scanline < cinfo->output_height) {
    st.code = TX_ERR_SHORT;
    return false;
  }
  TL_DEBUG("TL][jpeg", "JPEG: %s\n", LoadingName());
  TL_DEBUG("TL][jpeg", " size: %dx%d bits: %d\n", b->width, b->height, b->bpp);
  TL_DEBUG("TL][jpeg", " imagesize[0]: %lu\n", static_cast<unsigned long>(b->imageSize[0]));
  jpeg_finish_decompress(cinfo);
  return true;
}

// --- writing --------------------------------------------------------------------

struct Destination {
  jpeg_destination_mgr pub;
  SYS_File_t *out;
  JOCTET buffer[1 << 16];
};

void InitDestination(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = sizeof d->buffer;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  if (!WriteAll(d->out, d->buffer, sizeof d->buffer)) ERREXIT(cinfo, JERR_FILE_WRITE);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = sizeof d->buffer;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto *d = reinterpret_cast<Destination *>(cinfo->dest);
  size_t n = sizeof d->buffer - d->pub.free_in_buffer;
  if (n && !WriteAll(d->out, d->buffer, n)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

struct WriteState {
  jpeg_compress_struct cinfo;
  ErrorManager err;
  Destination *dest;
};

bool Compress(WriteState &st, const unsigned char *pixels, int width, int height, int components) {
  if (setjmp(st.err.jump)) return false;
  j_compress_ptr cinfo = &st.cinfo;
  jpeg_create_compress(cinfo);
  cinfo->dest = &st.dest->pub;
  cinfo->image_width = static_cast<JDIMENSION>(width);
  cinfo->image_height = static_cast<JDIMENSION>(height);
  cinfo->input_components = components;
  cinfo->in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(cinfo);
  g_tl.jpegQuality = std::clamp(g_tl.jpegQuality, 0, 100);
  jpeg_set_quality(cinfo, g_tl.jpegQuality, g_tl.jpegBaseline ? TRUE : FALSE);
  cinfo->optimize_coding = g_tl.jpegOptimise ? TRUE : FALSE;
  cinfo->smoothing_factor = std::clamp(g_tl.jpegSmoothing, 0, 100);
  if (g_tl.jpegProgressive) jpeg_simple_progression(cinfo);
  jpeg_start_compress(cinfo, TRUE);
  const size_t stride = static_cast<size_t>(width) * components;
  while (cinfo->next_scanline < cinfo->image_height) {
    JSAMPROW row = const_cast<unsigned char *>(pixels) + stride * cinfo->next_scanline;
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

// Encodes width x height pixels of 1 or 3 components into the named file.
int Encode(const char *name, const unsigned char *pixels, int width, int height, int components) {
  auto st = brisk::OwnMem(static_cast<WriteState *>(SYS_MemGet(sizeof(WriteState), "jpegWrite: state")));
  auto dest = brisk::OwnMem(static_cast<Destination *>(SYS_MemGet(sizeof(Destination), "jpegWrite: buffer")));
  if (!st || !dest) return brisk::Fail(SYS_ERR_NOMEM, -1);
  st->cinfo.err = jpeg_std_error(&st->err.pub);
  st->err.pub.error_exit = OnError;
  st->err.pub.output_message = OnMessage;
  brisk::FilePtr out = CreateOutput(name, SYS_ERR_CREATE);
  if (!out) return -1;
  SYS_DbgMsg(DebugLevel(), "[TL][jpeg][%s:%d:%s()] JPEG name: %s\n", __FILE_NAME__, __LINE__, "JPGWRITE", name);
  SYS_DbgMsg(DebugLevel(), "[TL][jpeg][%s:%d:%s()]  size: %dx%d %dbits\n", __FILE_NAME__, __LINE__, "JPGWRITE", width,
             height, components * 8);
  dest->out = out.get();
  dest->pub.init_destination = InitDestination;
  dest->pub.empty_output_buffer = EmptyOutput;
  dest->pub.term_destination = TermDestination;
  st->dest = dest.get();
  const bool ok = Compress(*st, pixels, width, height, components);
  jpeg_destroy_compress(&st->cinfo);
  return ok ? 0 : brisk::Fail(SYS_ERR_NOMEM, -1);
}

}  // namespace

extern "C" int jpegIdentify(const unsigned char *p, int size) {
  return p && size >= 10 && std::memcmp(p + 6, "JFIF", 4) == 0 ? 0 : -1;
}

extern "C" txBitmap *jpegRead(const unsigned char *buffer, int size) {
  ByteReader in = StartReading(buffer, size, 1);
  if (in.failed()) return nullptr;
  // The decompressor is large; it lives on the heap, not the stack.
  auto st = brisk::OwnMem(static_cast<ReadState *>(SYS_MemGet(sizeof(ReadState), "jpegRead: state")));
  if (!st) return brisk::Fail(SYS_ERR_NOMEM, nullptr);
  new (st.get()) ReadState();
  BitmapPtr bitmap(TL_NEW_BITMAP("jpegRead: struct"));
  if (!bitmap) return nullptr;
  st->bitmap = bitmap.get();
  st->cinfo.err = jpeg_std_error(&st->err.pub);
  st->err.pub.error_exit = OnError;
  st->err.pub.output_message = OnMessage;
  st->err.pub.emit_message = OnEmit;
  st->src.pub.init_source = InitSource;
  st->src.pub.fill_input_buffer = FillInput;
  st->src.pub.skip_input_data = SkipInput;
  st->src.pub.resync_to_restart = jpeg_resync_to_restart;
  st->src.pub.term_source = TermSource;
  st->src.data = buffer;
  st->src.size = in.remaining();

  const bool ok = Decode(*st);
  jpeg_destroy_decompress(&st->cinfo);
  // A file that ends before its data is short, whatever libjpeg made of it.
  if (!ok) return brisk::Fail(st->src.ranOut || st->err.dataEnded ? TX_ERR_SHORT : st->code, nullptr);
  return bitmap.release();
}

extern "C" int jpegWrite(const char *name, txBitmap *b) {
  if (!b || !name) return brisk::Fail(SYS_ERR_ARG, -1);
  if (b->order > 1 || b->format < 0 || b->format > 3 || !WritableLevel(b)) return brisk::Fail(TX_ERR_CANTSTORE, -1);
  if (b->format != TX_FORMAT_RGBA) {
    // Blue-first data (format 0) is swapped to red first for the encoder and back.
    SwappedChannels swapped(b, b->format == TX_FORMAT_RGB);
    return Encode(name, b->image[0], b->width, b->height, b->bpp / 8);
  }

  // With alpha: the colour channels as they stand into name, the alpha
  // channel as grey into name with "_a" before its extension.
  const size_t pixels = static_cast<size_t>(b->width) * b->height;
  auto tmp = brisk::OwnMem(static_cast<unsigned char *>(SYS_MemGet(pixels * 3, "jpegWrite: temp buffer")));
  if (!tmp) return brisk::Fail(SYS_ERR_NOMEM, -1);
  for (size_t i = 0; i < pixels; ++i) std::memcpy(tmp.get() + 3 * i, b->image[0] + 4 * i, 3);
  if (Encode(name, tmp.get(), b->width, b->height, 3) != 0) return -1;
  for (size_t i = 0; i < pixels; ++i) tmp.get()[i] = b->image[0][4 * i + 3];
  return Encode(AlphaName(name).c_str(), tmp.get(), b->width, b->height, 1);
}
