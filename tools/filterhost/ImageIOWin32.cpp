// Image files through WIC, the platform's imaging component: its decoders and
// encoders do the file formats; PixelPlanes does the conversions between
// decoded rows, planes and encoded rows, and the orientation; OutputFile the
// file written beside its target. Under Wine, Wine's own WIC answers.
#include <windows.h>
#include <initguid.h>
#include <wincodec.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "tools/filterhost/ImageHeader.h"
#include "tools/filterhost/ImageIO.h"
#include "tools/filterhost/OutputFileWin32.h"
#include "tools/filterhost/ProcessMemoryWin32.h"
#include "tools/filterhost/UnusedMetadata.h"

namespace {

// The 64-bit host loads 64-bit modules, and PATINEX64.8bf renders at Auto unless
// told otherwise: its estimate counts the grain field of a scaled render.
const bool kScaledRender = sizeof(void*) == 8;

}  // namespace

namespace {

// Holds one COM reference and releases it.
template <class T>
struct Ref {
  T* p = nullptr;
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
  void Release() {
    if (p != nullptr) p->Release();
    p = nullptr;
  }
};

// Rows handed to the decoder or the encoder at a time: about a megabyte.
int32_t BandRows(size_t rowBytes) {
  const size_t rows = (size_t(1) << 20) / (rowBytes == 0 ? 1 : rowBytes);
  return rows < 1 ? 1 : rows > 4096 ? 4096 : int32_t(rows);
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// A failed HRESULT as a user should read it, with its number.
std::string Cause(HRESULT hr) {
  std::string what;
  switch (hr) {
    case WINCODEC_ERR_BADHEADER: what = "damaged header"; break;
    case WINCODEC_ERR_BADIMAGE: what = "damaged image data"; break;
    case WINCODEC_ERR_BADSTREAMDATA:
    case WINCODEC_ERR_STREAMREAD:
    case WINCODEC_ERR_STREAMNOTAVAILABLE:
    case E_FAIL: what = "damaged or truncated data"; break;
    case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT: what = "a pixel format WIC cannot convert"; break;
    case WINCODEC_ERR_COMPONENTNOTFOUND:
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT: what = "not an image format WIC knows"; break;
    case E_OUTOFMEMORY: what = "out of memory"; break;
    default:
      what = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? SystemErrorText(HRESULT_CODE(hr)) : "WIC error";
  }
  return what + " (" + Hex(hr) + ")";
}

// The process's imaging factory, made on first use.
IWICImagingFactory* Factory(std::string* error) {
  static IWICImagingFactory* factory = nullptr;
  static HRESULT made = S_FALSE;
  if (made == S_FALSE) {
    made = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(made)) {
      made = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, reinterpret_cast<void**>(&factory));
    }
  }
  if (FAILED(made)) *error = "the imaging component (WIC) is not available: " + Cause(made);
  return SUCCEEDED(made) ? factory : nullptr;
}

// ---- Reading ----

bool IsReadFormat(const GUID& container) {
  return container == GUID_ContainerFormatPng || container == GUID_ContainerFormatJpeg ||
         container == GUID_ContainerFormatBmp || container == GUID_ContainerFormatTiff ||
         container == GUID_ContainerFormatGif;
}

bool IsCmyk(const GUID& format) {
  return format == GUID_WICPixelFormat32bppCMYK || format == GUID_WICPixelFormat64bppCMYK ||
         format == GUID_WICPixelFormat40bppCMYKAlpha || format == GUID_WICPixelFormat80bppCMYKAlpha;
}

bool IsIndexed(const GUID& format) {
  return format == GUID_WICPixelFormat1bppIndexed || format == GUID_WICPixelFormat2bppIndexed ||
         format == GUID_WICPixelFormat4bppIndexed || format == GUID_WICPixelFormat8bppIndexed;
}

// 16-bit layouts read as they are stored (WIC's converter cannot take all of
// them to 8 bits, and its rounding is its own); false for everything that goes
// through the converter to 8-bit BGRA.
bool NativeLayout(const GUID& format, SampleLayout* layout) {
  if (format == GUID_WICPixelFormat16bppGray) *layout = kGray16Samples;
  else if (format == GUID_WICPixelFormat48bppRGB) *layout = kRgb16Samples;
  else if (format == GUID_WICPixelFormat48bppBGR) *layout = kBgr16Samples;
  else if (format == GUID_WICPixelFormat64bppRGBA) *layout = kRgba16Samples;
  else if (format == GUID_WICPixelFormat64bppBGRA) *layout = kBgra16Samples;
  else return false;
  return true;
}

// WIC's description of a pixel format; false when it has none.
bool DescribeFormat(IWICImagingFactory* factory, const GUID& format, IWICPixelFormatInfo2** info) {
  Ref<IWICComponentInfo> component;
  return SUCCEEDED(factory->CreateComponentInfo(format, &component)) &&
         SUCCEEDED(component->QueryInterface(IID_IWICPixelFormatInfo2,
                                             reinterpret_cast<void**>(info)));
}

// Whether the frame's pixels can be transparent: its format has an alpha
// channel, or its palette has a colour that is not opaque.
bool HasAlpha(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, const GUID& format,
              SampleLayout layout, bool native) {
  if (native) return layout == kRgba16Samples || layout == kBgra16Samples;
  if (IsIndexed(format)) {
    Ref<IWICPalette> palette;
    BOOL alpha = FALSE;
    if (SUCCEEDED(factory->CreatePalette(&palette)) && SUCCEEDED(frame->CopyPalette(palette.p)) &&
        SUCCEEDED(palette->HasAlpha(&alpha))) {
      return alpha != FALSE;
    }
    return false;
  }
  Ref<IWICPixelFormatInfo2> info;
  BOOL alpha = FALSE;
  return DescribeFormat(factory, format, &info) && SUCCEEDED(info->SupportsTransparency(&alpha)) &&
         alpha != FALSE;
}

bool IsFloatingPoint(IWICImagingFactory* factory, const GUID& format) {
  Ref<IWICPixelFormatInfo2> info;
  WICPixelFormatNumericRepresentation numbers = WICPixelFormatNumericRepresentationUnspecified;
  return DescribeFormat(factory, format, &info) &&
         SUCCEEDED(info->GetNumericRepresentation(&numbers)) &&
         (numbers == WICPixelFormatNumericRepresentationFloat ||
          numbers == WICPixelFormatNumericRepresentationFixed);
}

// Whether the TIFF decoder hands over a big-endian ("MM") file's 16-bit
// samples still big-endian, where its pixel formats are little-endian. Wine's
// swaps the samples that libtiff has already put in the machine's order, so
// they come out swapped twice; Windows' does not. Asked once, of a 1 x 1
// 16-bit gray TIFF in memory whose sample is 0x1234.
bool SwapsBigEndianTiffSamples(IWICImagingFactory* factory) {
  static int swaps = -1;
  if (swaps >= 0) return swaps == 1;
  swaps = 0;
  std::vector<uint8_t> tiff = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 9};
  auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
    const uint8_t e[12] = {uint8_t(tag >> 8), uint8_t(tag), 0, uint8_t(type), 0, 0, 0, 1,
                           uint8_t(type == 3 ? value >> 8 : value >> 24),
                           uint8_t(type == 3 ? value : value >> 16),
                           uint8_t(type == 3 ? 0 : value >> 8), uint8_t(type == 3 ? 0 : value)};
    tiff.insert(tiff.end(), e, e + 12);
  };
  const uint32_t pixelAt = 10 + 9 * 12 + 4;
  entry(256, 3, 1);        // width
  entry(257, 3, 1);        // height
  entry(258, 3, 16);       // bits per sample
  entry(259, 3, 1);        // no compression
  entry(262, 3, 1);        // black is zero
  entry(273, 4, pixelAt);  // the strip
  entry(277, 3, 1);        // samples per pixel
  entry(278, 3, 1);        // rows per strip
  entry(279, 4, 2);        // strip bytes
  tiff.insert(tiff.end(), {0, 0, 0, 0, 0x12, 0x34});
  Ref<IWICStream> stream;
  Ref<IWICBitmapDecoder> decoder;
  Ref<IWICBitmapFrameDecode> frame;
  GUID format = {};
  uint8_t sample[2] = {0, 0};
  const WICRect rect = {0, 0, 1, 1};
  if (SUCCEEDED(factory->CreateStream(&stream)) &&
      SUCCEEDED(stream->InitializeFromMemory(tiff.data(), DWORD(tiff.size()))) &&
      SUCCEEDED(factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                                 &decoder)) &&
      SUCCEEDED(decoder->GetFrame(0, &frame)) && SUCCEEDED(frame->GetPixelFormat(&format)) &&
      format == GUID_WICPixelFormat16bppGray &&
      SUCCEEDED(frame->CopyPixels(&rect, 2, 2, sample))) {
    swaps = sample[0] == 0x12 && sample[1] == 0x34 ? 1 : 0;
  }
  return swaps == 1;
}

// The whole file; false with the cause.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
    *error = "cannot read " + path + ": " + SystemErrorText(GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return false;
  }
  // WIC reads from memory with a 32-bit size.
  if (uint64_t(size.QuadPart) > 0x7FFFFFFFu) {
    CloseHandle(file);
    *error = path + " is over 2 GB, more than filterhost reads";
    return false;
  }
  const uint64_t available = AvailableMemory();
  if (uint64_t(size.QuadPart) > available) {
    CloseHandle(file);
    *error = path + " is " + ByteCountText(uint64_t(size.QuadPart)) +
             ", more than the memory this process can have (" + ByteCountText(available) + ")";
    return false;
  }
  bytes->resize(size_t(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!ReadFile(file, bytes->data() + done, DWORD(bytes->size() - done), &got, nullptr) || got == 0) {
      *error = "cannot read " + path + ": " + SystemErrorText(GetLastError());
      CloseHandle(file);
      return false;
    }
    done += got;
  }
  CloseHandle(file);
  return true;
}

bool Read(const std::string& path, Image* image, std::string* error, bool keepSixteenBits) {
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file, error)) return false;
  // What filterhost does not use never reaches the decoder: a PNG's
  // compressed text and colour profile may inflate to gigabytes.
  file.resize(DropUnusedMetadata(file.data(), file.size()));
  // The header decides before any decoder sees the file: Wine's PNG, JPEG and
  // GIF decoders decode every pixel as soon as they are made.
  const ImageHeader header = ReadImageHeader(file.data(), file.size());
  if (header.format == kUnknownFile) {
    *error = path + " is not an image filterhost can read (it reads PNG, JPEG, BMP, TIFF and GIF)";
    return false;
  }
  const std::string damaged = path + " cannot be decoded: ";
  const std::string kind = FormatName(header.format);
  if (!header.sizeKnown && header.format != kTiffFile) {
    *error = damaged + "the " + kind + " header is damaged or cut short";
    return false;
  }
  // A GIF's picture is its first frame, whatever its screen.
  const std::string picture = header.format == kGifFile ? path + "'s first frame" : path;
  if (header.sizeKnown && !CheckImageSize(picture, header.width, header.height, error)) {
    return false;
  }
  // Work and memory that match the file, decided before a decoder makes room
  // for the pixels: no more pixels than the file can hold, no more JPEG scans
  // than encoders write, and no more memory than the process can have, at the
  // depth the run goes in.
  if (!CheckFileHoldsImage(path, header, file.size(), error)) return false;
  // What a refusal names: the picture, and a GIF's other frames, which its
  // decoder decodes too.
  auto pixels = [&](uint32_t w, uint32_t h) {
    std::string text = "its " + std::to_string(w) + " x " + std::to_string(h) + " pixels";
    if (header.frames > 1) {
      text += " (the first of " + std::to_string(header.frames) + " frames, all decoded: " +
              std::to_string(header.framePixels) + " pixels)";
    }
    return text;
  };
  auto fits = [&](uint32_t w, uint32_t h, int32_t planes, int32_t sampleBytes, uint64_t decoded) {
    const uint64_t needed =
        RunMemoryBytes(w, h, planes, sampleBytes, decoded, file.size(), kScaledRender);
    return CheckRunMemory(path, pixels(w, h), needed, AvailableMemory(),
                          AvailableMemoryTo64BitHost(), error);
  };
  // The planes as far as the header tells (the decoder tells for sure).
  const int32_t countedSampleBytes = RunSampleBytes(header, keepSixteenBits);
  if (header.sizeKnown && !fits(header.width, header.height, RunPlanes(header), countedSampleBytes,
                                header.decodedBytes)) {
    return false;
  }

  Ref<IWICStream> stream;
  Ref<IWICBitmapDecoder> decoder;
  HRESULT hr;
  if (FAILED(hr = factory->CreateStream(&stream)) ||
      FAILED(hr = stream->InitializeFromMemory(file.data(), DWORD(file.size()))) ||
      FAILED(hr = factory->CreateDecoderFromStream(stream.p, nullptr, WICDecodeMetadataCacheOnDemand,
                                                   &decoder))) {
    // WIC tries each of its decoders and answers "unknown format" when the one
    // for this format gave up on the file.
    const bool gaveUp = hr == WINCODEC_ERR_COMPONENTNOTFOUND || hr == WINCODEC_ERR_UNKNOWNIMAGEFORMAT;
    *error = damaged + (gaveUp
                            ? "a damaged " + kind + " file (" + Hex(hr) + ")"
                            : Cause(hr));
    return false;
  }
  GUID container = {};
  if (FAILED(decoder->GetContainerFormat(&container)) || !IsReadFormat(container)) {
    *error = path + " is not an image filterhost can read (it reads PNG, JPEG, BMP, TIFF and GIF)";
    return false;
  }
  Ref<IWICBitmapFrameDecode> frame;
  UINT width = 0, height = 0;
  GUID format = {};
  if (FAILED(hr = decoder->GetFrame(0, &frame)) || FAILED(hr = frame->GetSize(&width, &height)) ||
      FAILED(hr = frame->GetPixelFormat(&format))) {
    *error = damaged + Cause(hr);
    return false;
  }
  SampleLayout layout = kBgra8Samples;
  const bool native = NativeLayout(format, &layout);
  // A 16-bit file keeps its samples when asked; every other file is read in bytes.
  const int32_t sampleBytes = native && keepSixteenBits ? 2 : 1;
  // Again from the decoder, before the image is made (and before a TIFF's or
  // BMP's pixels are decoded): a TIFF's size may be known only to it, and so
  // may the 16 bits of a file whose header did not tell its depth, and
  // whether the picture has transparency.
  if (!CheckImageSize(picture, width, height, error)) return false;
  const int32_t planes = HasAlpha(factory, frame.p, format, layout, native) ? 4 : 3;
  if (!fits(width, height, planes, sampleBytes, header.sizeKnown ? header.decodedBytes : 0)) {
    return false;
  }
  NoteRunEstimate(RunMemoryBytes(width, height, planes, sampleBytes,
                                 header.sizeKnown ? header.decodedBytes : 0, file.size(),
                                 kScaledRender));
  if (IsCmyk(format)) {
    *error = path + " is a CMYK image; filterhost reads RGB, gray and palette images";
    return false;
  }
  if (IsFloatingPoint(factory, format)) {
    *error = path + " has floating-point samples; filterhost reads 8- and 16-bit images";
    return false;
  }

  IWICBitmapSource* source = frame.p;
  Ref<IWICFormatConverter> converter;
  if (!native) {
    // Through 32-bit BGRA: WIC converts every 8-bit layout, palette and gray to it.
    if (FAILED(hr = factory->CreateFormatConverter(&converter)) ||
        FAILED(hr = converter->Initialize(frame.p, GUID_WICPixelFormat32bppBGRA,
                                          WICBitmapDitherTypeNone, nullptr, 0.0,
                                          WICBitmapPaletteTypeCustom))) {
      *error = damaged + "no conversion to RGB: " + Cause(hr);
      return false;
    }
    source = converter.p;
  }

  image->width = int32_t(width);
  image->height = int32_t(height);
  image->planes = planes;
  image->sampleBytes = sampleBytes;
  const size_t bytes = ImageBytes(image->width, image->height, image->planes * image->sampleBytes);
  if (bytes == 0) {
    *error = path + " is too large for this process's memory";
    return false;
  }
  image->pixels.assign(bytes, 0);

  const bool swapped = native && header.format == kTiffFile && header.bigEndian &&
                       SwapsBigEndianTiffSamples(factory);
  const size_t stride = size_t(width) * size_t(SampleBytes(layout));
  const int32_t band = BandRows(stride);
  std::vector<uint8_t> rows(stride * size_t(band < image->height ? band : image->height));
  for (int32_t y = 0; y < image->height; y += band) {
    const int32_t count = image->height - y < band ? image->height - y : band;
    const WICRect rect = {0, y, image->width, count};
    hr = source->CopyPixels(&rect, UINT(stride), UINT(stride * size_t(count)), rows.data());
    const SampleRows samples = {layout, image->width, count, stride, rows.data(),
                                stride * size_t(count)};
    if (FAILED(hr)) {
      *error = damaged + Cause(hr);
      return false;
    }
    if (swapped) SwapSampleBytes16(rows.data(), stride * size_t(count));
    if (!SamplesToPlanes(samples, image, y)) {
      *error = path + ": the decoded rows do not fit the image";
      return false;
    }
  }
  // The decoder and the file go before the picture is turned (a copy of it).
  converter.Release();
  frame.Release();
  decoder.Release();
  stream.Release();
  std::vector<uint8_t>().swap(file);
  std::vector<uint8_t>().swap(rows);
  ApplyOrientation(header.orientation, image);
  return true;
}

}  // namespace

bool ReadImage(const std::string& path, Image* image, std::string* error, bool keepSixteenBits) {
  // Sizes are checked before anything is made, but memory can still run out
  // half-way (another process took it): one line naming the file.
  try {
    return Read(path, image, error, keepSixteenBits);
  } catch (const std::bad_alloc&) {
    *error = path + ": out of memory while reading the image";
  } catch (const std::exception& e) {
    *error = path + " cannot be read: " + e.what();
  }
  image->pixels.clear();
  image->pixels.shrink_to_fit();
  return false;
}

// ---- Writing ----

namespace {

const GUID& ContainerOf(ImageFileFormat format) {
  switch (format) {
    case kJpegFile: return GUID_ContainerFormatJpeg;
    case kTiffFile: return GUID_ContainerFormatTiff;
    case kBmpFile: return GUID_ContainerFormatBmp;
    default: return GUID_ContainerFormatPng;
  }
}

// Whether the PNG encoder writes 16-bit samples in the machine's order instead
// of the file's big-endian one. Wine's does (and its decoder reads them right),
// Windows' does not. Asked once: a 1 x 1 48-bit pixel of samples 0x0102, 0x0304,
// 0x0506 encoded in memory and decoded again comes back byte-swapped.
bool PngEncoderKeepsMachineOrder(IWICImagingFactory* factory) {
  static int keeps = -1;
  if (keeps >= 0) return keeps == 1;
  keeps = 0;
  const uint8_t pixel[6] = {0x02, 0x01, 0x04, 0x03, 0x06, 0x05};
  uint8_t back[6] = {0, 0, 0, 0, 0, 0};
  Ref<IStream> stream;
  Ref<IWICBitmapEncoder> encoder;
  Ref<IWICBitmapFrameEncode> frame;
  Ref<IWICBitmapDecoder> decoder;
  Ref<IWICBitmapFrameDecode> decoded;
  WICPixelFormatGUID format = GUID_WICPixelFormat48bppRGB;
  const LARGE_INTEGER start = {};
  const WICRect rect = {0, 0, 1, 1};
  if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) &&
      SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder)) &&
      SUCCEEDED(encoder->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
      SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) &&
      SUCCEEDED(frame->Initialize(nullptr)) && SUCCEEDED(frame->SetSize(1, 1)) &&
      SUCCEEDED(frame->SetPixelFormat(&format)) && format == GUID_WICPixelFormat48bppRGB &&
      SUCCEEDED(frame->WritePixels(1, 6, 6, const_cast<uint8_t*>(pixel))) &&
      SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) &&
      SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr)) &&
      SUCCEEDED(factory->CreateDecoderFromStream(stream.p, nullptr,
                                                 WICDecodeMetadataCacheOnDemand, &decoder)) &&
      SUCCEEDED(decoder->GetFrame(0, &decoded)) &&
      SUCCEEDED(decoded->GetPixelFormat(&format)) && format == GUID_WICPixelFormat48bppRGB &&
      SUCCEEDED(decoded->CopyPixels(&rect, 6, 6, back))) {
    keeps = back[0] == 0x01 && back[1] == 0x02 ? 1 : 0;
  }
  return keeps == 1;
}

// Encodes the image into `stream`; false with the cause.
bool Encode(IWICImagingFactory* factory, IStream* stream, const Image& image,
            ImageFileFormat format, int32_t quality, std::string* cause) {
  const bool alpha = image.planes == 4 && FormatKeepsAlpha(format);
  // 16-bit samples go to PNG and TIFF in 16 bits; JPEG and BMP take bytes.
  const bool sixteen = image.sampleBytes == 2 && FormatKeepsSixteenBits(format);
  Image reduced;
  if (image.sampleBytes == 2 && !sixteen) {
    reduced = image;
    ReduceToBytes(&reduced);
    return Encode(factory, stream, reduced, format, quality, cause);
  }
  const WICPixelFormatGUID wanted =
      sixteen ? (alpha ? GUID_WICPixelFormat64bppRGBA : GUID_WICPixelFormat48bppRGB)
              : (alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR);
  Ref<IWICBitmapEncoder> encoder;
  Ref<IWICBitmapFrameEncode> frame;
  Ref<IPropertyBag2> options;
  HRESULT hr;
  if (FAILED(hr = factory->CreateEncoder(ContainerOf(format), nullptr, &encoder)) ||
      FAILED(hr = encoder->Initialize(stream, WICBitmapEncoderNoCache)) ||
      FAILED(hr = encoder->CreateNewFrame(&frame, &options))) {
    *cause = Cause(hr);
    return false;
  }
  if (format == kJpegFile) {
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R4;
    value.fltVal = float(quality) / 100.0f;
    if (FAILED(hr = options->Write(1, &option, &value))) {
      *cause = "the JPEG encoder refused the quality: " + Cause(hr);
      return false;
    }
  }
  WICPixelFormatGUID given = wanted;
  if (FAILED(hr = frame->Initialize(options.p)) ||
      FAILED(hr = frame->SetSize(UINT(image.width), UINT(image.height))) ||
      FAILED(hr = frame->SetPixelFormat(&given))) {
    *cause = Cause(hr);
    return false;
  }
  if (given != wanted) {
    *cause = std::string("the ") + FormatName(format) + " encoder does not take " +
             (sixteen ? (alpha ? "64-bit RGBA" : "48-bit RGB") : (alpha ? "32-bit BGRA" : "24-bit BGR")) +
             " pixels";
    return false;
  }
  const int32_t outPlanes = alpha ? 4 : 3;
  const size_t stride = size_t(image.width) * size_t(outPlanes) * (sixteen ? 2 : 1);
  const int32_t band = BandRows(stride);
  std::vector<uint8_t> rows(stride * size_t(band < image.height ? band : image.height));
  for (int32_t y = 0; y < image.height; y += band) {
    const int32_t count = image.height - y < band ? image.height - y : band;
    const bool converted = sixteen ? PlanesToRgb16(image, y, count, alpha, rows.data(), rows.size())
                                   : PlanesToBgr(image, y, count, alpha, rows.data(), rows.size());
    if (!converted) {
      *cause = "the image's pixels do not fit its size";
      return false;
    }
    if (sixteen && format == kPngFile && PngEncoderKeepsMachineOrder(factory)) {
      SwapSampleBytes16(rows.data(), stride * size_t(count));
    }
    if (FAILED(hr = frame->WritePixels(UINT(count), UINT(stride), UINT(stride * size_t(count)),
                                       rows.data()))) {
      *cause = Cause(hr);
      return false;
    }
  }
  if (FAILED(hr = frame->Commit()) || FAILED(hr = encoder->Commit())) {
    *cause = Cause(hr);
    return false;
  }
  return true;
}

}  // namespace

bool WriteImage(const std::string& path, const Image& image, ImageFileFormat format,
                int32_t quality, std::string* error) {
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return false;
  OutputFile file;
  if (!file.Open(path, error)) return false;
  std::string cause;
  bool encoded = false;
  try {
    encoded = Encode(factory, file.Stream(), image, format, quality, &cause);
  } catch (const std::bad_alloc&) {
    cause = "out of memory";
  } catch (const std::exception& e) {
    cause = e.what();
  }
  return file.Close(encoded, cause, error);
}
