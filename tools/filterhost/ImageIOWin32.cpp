// Image files through WIC, the platform's imaging component: its decoders and
// encoders do the file formats; PixelPlanes does the conversion to planes and
// the orientation. Under Wine, Wine's own WIC answers.
#include <windows.h>
#include <initguid.h>
#include <wincodec.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tools/filterhost/ImageHeader.h"
#include "tools/filterhost/ImageIO.h"

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

std::string SystemText(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = text != nullptr ? text : "";
  LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) {
    s.pop_back();
  }
  return s.empty() ? "system error " + std::to_string(code) : s;
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
      what = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? SystemText(HRESULT_CODE(hr)) : "WIC error";
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

// The whole file; false with the cause.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  LARGE_INTEGER size;
  if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
    *error = "cannot read " + path + ": " + SystemText(GetLastError());
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return false;
  }
  // WIC reads from memory with a 32-bit size.
  if (uint64_t(size.QuadPart) > 0x7FFFFFFFu) {
    CloseHandle(file);
    *error = path + " is over 2 GB, more than filterhost reads";
    return false;
  }
  bytes->resize(size_t(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    if (!ReadFile(file, bytes->data() + done, DWORD(bytes->size() - done), &got, nullptr) || got == 0) {
      *error = "cannot read " + path + ": " + SystemText(GetLastError());
      CloseHandle(file);
      return false;
    }
    done += got;
  }
  CloseHandle(file);
  return true;
}

}  // namespace

bool ReadImage(const std::string& path, Image* image, std::string* error) {
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return false;
  std::vector<uint8_t> file;
  if (!ReadWholeFile(path, &file, error)) return false;
  // The header decides before any decoder sees the file: Wine's PNG, JPEG and
  // GIF decoders decode every pixel as soon as they are made.
  const ImageHeader header = ReadImageHeader(file.data(), file.size());
  if (header.kind == kNotAnImage) {
    *error = path + " is not an image filterhost can read (it reads PNG, JPEG, BMP, TIFF and GIF)";
    return false;
  }
  const std::string damaged = path + " cannot be decoded: ";
  const std::string kind = ImageKindName(header.kind);
  if (!header.sizeKnown && header.kind != kTiffImage) {
    *error = damaged + "the " + kind + " header is damaged or cut short";
    return false;
  }
  if (header.sizeKnown && !CheckImageSize(path, header.width, header.height, error)) return false;

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
  // Again from the decoder (a TIFF's size is known only to it), still before
  // a pixel is decoded.
  if (!CheckImageSize(path, width, height, error)) return false;
  if (IsCmyk(format)) {
    *error = path + " is a CMYK image; filterhost reads RGB, gray and palette images";
    return false;
  }
  if (IsFloatingPoint(factory, format)) {
    *error = path + " has floating-point samples; filterhost reads 8- and 16-bit images";
    return false;
  }

  SampleLayout layout = kBgra8Samples;
  const bool native = NativeLayout(format, &layout);
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
  image->planes = HasAlpha(factory, frame.p, format, layout, native) ? 4 : 3;
  const size_t bytes = ImageBytes(image->width, image->height, image->planes);
  if (bytes == 0) {
    *error = path + " is too large for this process's memory";
    return false;
  }
  image->pixels.assign(bytes, 0);

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
    if (!SamplesToPlanes(samples, image, y)) {
      *error = path + ": the decoded rows do not fit the image";
      return false;
    }
  }
  ApplyOrientation(header.orientation, image);
  return true;
}

// ---- Writing ----

namespace {

// An IStream over a Win32 file handle that records the first write that
// failed, so that no encoder can lose a failure on its way back. Seeks only
// on disk files; elsewhere only the position may be asked.
class HandleStream : public IStream {
 public:
  HandleStream(HANDLE file, bool disk) : file_(file), disk_(disk) {}
  DWORD writeError() const { return writeError_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return ULONG(left);
  }
  HRESULT STDMETHODCALLTYPE Read(void* to, ULONG count, ULONG* done) override {
    DWORD got = 0;
    const BOOL ok = ReadFile(file_, to, count, &got, nullptr);
    if (done != nullptr) *done = got;
    position_ += got;
    return !ok ? HRESULT_FROM_WIN32(GetLastError()) : got < count ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* from, ULONG count, ULONG* done) override {
    const uint8_t* bytes = static_cast<const uint8_t*>(from);
    ULONG total = 0;
    while (total < count && writeError_ == 0) {
      DWORD wrote = 0;
      if (!WriteFile(file_, bytes + total, count - total, &wrote, nullptr)) {
        writeError_ = GetLastError();
      } else if (wrote == 0) {
        writeError_ = ERROR_WRITE_FAULT;
      }
      total += wrote;
    }
    position_ += total;
    if (done != nullptr) *done = total;
    return writeError_ == 0 ? S_OK : HRESULT_FROM_WIN32(writeError_);
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* at) override {
    if (!disk_) {
      // A device or pipe: only "where am I" and "stay here".
      const bool here = (origin == STREAM_SEEK_CUR && move.QuadPart == 0) ||
                        (origin == STREAM_SEEK_SET && uint64_t(move.QuadPart) == position_);
      if (!here) return STG_E_INVALIDFUNCTION;
      if (at != nullptr) at->QuadPart = position_;
      return S_OK;
    }
    LARGE_INTEGER now;
    if (!SetFilePointerEx(file_, move, &now, origin)) return HRESULT_FROM_WIN32(GetLastError());
    position_ = uint64_t(now.QuadPart);
    if (at != nullptr) at->QuadPart = position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    if (!disk_) return STG_E_INVALIDFUNCTION;
    LARGE_INTEGER to, back;
    to.QuadPart = LONGLONG(size.QuadPart);
    back.QuadPart = LONGLONG(position_);
    if (!SetFilePointerEx(file_, to, nullptr, FILE_BEGIN) || !SetEndOfFile(file_) ||
        !SetFilePointerEx(file_, back, nullptr, FILE_BEGIN)) {
      return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                   ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
    return writeError_ == 0 ? S_OK : HRESULT_FROM_WIN32(writeError_);
  }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
    ZeroMemory(stat, sizeof *stat);
    stat->type = STGTY_STREAM;
    LARGE_INTEGER size;
    stat->cbSize.QuadPart = disk_ && GetFileSizeEx(file_, &size) ? uint64_t(size.QuadPart)
                                                                 : position_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
    *out = nullptr;
    return E_NOTIMPL;
  }

 private:
  virtual ~HandleStream() = default;
  LONG refs_ = 1;
  HANDLE file_;
  bool disk_;
  DWORD writeError_ = 0;
  uint64_t position_ = 0;
};

const GUID& ContainerOf(ImageFileFormat format) {
  switch (format) {
    case kJpegFile: return GUID_ContainerFormatJpeg;
    case kTiffFile: return GUID_ContainerFormatTiff;
    case kBmpFile: return GUID_ContainerFormatBmp;
    default: return GUID_ContainerFormatPng;
  }
}

// Encodes the image into `stream`; false with the cause.
bool Encode(IWICImagingFactory* factory, IStream* stream, const Image& image,
            ImageFileFormat format, int32_t quality, std::string* cause) {
  const bool alpha = image.planes == 4 && FormatKeepsAlpha(format);
  const WICPixelFormatGUID wanted = alpha ? GUID_WICPixelFormat32bppBGRA : GUID_WICPixelFormat24bppBGR;
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
             (alpha ? "32-bit BGRA" : "24-bit BGR") + " pixels";
    return false;
  }
  const int32_t outPlanes = alpha ? 4 : 3;
  const size_t stride = size_t(image.width) * size_t(outPlanes);
  const int32_t band = BandRows(stride);
  std::vector<uint8_t> rows(stride * size_t(band < image.height ? band : image.height));
  for (int32_t y = 0; y < image.height; y += band) {
    const int32_t count = image.height - y < band ? image.height - y : band;
    const uint8_t* in = image.pixels.data() + size_t(y) * size_t(image.width) * image.planes;
    uint8_t* out = rows.data();
    for (size_t i = 0; i < size_t(count) * size_t(image.width); ++i) {
      out[0] = in[2], out[1] = in[1], out[2] = in[0];
      if (alpha) out[3] = in[3];
      in += image.planes;
      out += outPlanes;
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

// The folder a file name is in ("." for a bare name).
std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return ".";
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

bool WriteImage(const std::string& path, const Image& image, ImageFileFormat format,
                int32_t quality, std::string* error) {
  IWICImagingFactory* factory = Factory(error);
  if (factory == nullptr) return false;
  // A target that exists and is not a disk file (a device, a pipe) is written
  // in place; anything else goes through a temporary file beside it.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool disk = file == INVALID_HANDLE_VALUE || GetFileType(file) == FILE_TYPE_DISK;
  std::string temporary;
  if (disk) {
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    char name[MAX_PATH + 16];
    if (GetTempFileNameA(FolderOf(path).c_str(), "fh", 0, name) == 0) {
      *error = "cannot write " + path + ": " + SystemText(GetLastError());
      return false;
    }
    temporary = name;
    file = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      *error = "cannot write " + path + ": " + SystemText(GetLastError());
      DeleteFileA(name);
      return false;
    }
  }

  HandleStream* stream = new HandleStream(file, disk);
  std::string cause;
  bool ok = Encode(factory, stream, image, format, quality, &cause);
  // A write that failed is the cause, whatever the encoder made of it.
  if (stream->writeError() != 0) {
    ok = false;
    cause = SystemText(stream->writeError());
  }
  stream->Release();
  if (!CloseHandle(file) && ok) {
    ok = false;
    cause = SystemText(GetLastError());
  }
  if (ok && disk && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ok = false;
    cause = SystemText(GetLastError());
  }
  if (!ok) {
    if (disk) DeleteFileA(temporary.c_str());
    *error = "cannot write " + path + ": " + cause;
  }
  return ok;
}
