// Turns an icon handle or an icon resource into pixels, in the form Wine's Shell_NotifyIcon sends.
// Used by TrayRecorder (records) and by tests that compare a tray picture with a resource.
#include "harness.h"

#include <iomanip>

namespace harness {

static size_t RowBytes(UINT width, UINT planes, UINT bitsPerPixel) {
  return (static_cast<size_t>(width) * planes * bitsPerPixel + 15) / 16 * 2;
}

static std::vector<BYTE> BitsOf(HBITMAP bitmap, BITMAP* info) {
  if (!GetObjectW(bitmap, sizeof(*info), info)) return {};
  std::vector<BYTE> bits(RowBytes(info->bmWidth, info->bmPlanes, info->bmBitsPixel) * info->bmHeight);
  LONG copied = GetBitmapBits(bitmap, static_cast<LONG>(bits.size()), bits.data());
  if (copied != static_cast<LONG>(bits.size())) return {};
  return bits;
}

std::optional<IconPicture> PictureOfIcon(HICON icon) {
  ICONINFO info;
  if (!icon || !GetIconInfo(icon, &info)) return std::nullopt;
  IconPicture picture;
  BITMAP colour = {};
  BITMAP mask = {};
  if (info.hbmColor) picture.colour = BitsOf(info.hbmColor, &colour);
  if (info.hbmMask) picture.mask = BitsOf(info.hbmMask, &mask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  const BITMAP& shape = info.hbmColor ? colour : mask;
  picture.width = shape.bmWidth;
  picture.height = shape.bmHeight;
  picture.planes = shape.bmPlanes;
  picture.bitsPerPixel = shape.bmBitsPixel;
  if (picture.Empty() || picture.mask.empty()) return std::nullopt;
  return picture;
}

std::optional<IconPicture> PictureOfResource(const std::wstring& modulePath, WORD id, int size) {
  HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return std::nullopt;
  HICON icon = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  std::optional<IconPicture> picture = PictureOfIcon(icon);
  if (icon) DestroyIcon(icon);
  FreeLibrary(module);
  return picture;
}

COLORREF IconPicture::PixelAt(UINT x, UINT y) const {
  if (bitsPerPixel != 32 || x >= width || y >= height) return CLR_INVALID;
  size_t offset = y * RowBytes(width, planes, bitsPerPixel) + x * 4;
  if (offset + 3 > colour.size()) return CLR_INVALID;
  return RGB(colour[offset + 2], colour[offset + 1], colour[offset]);
}

bool IconPicture::Transparent(UINT x, UINT y) const {
  size_t offset = y * RowBytes(width, 1, 1) + x / 8;
  if (x >= width || offset >= mask.size()) return false;
  return (mask[offset] & (0x80 >> (x % 8))) != 0;
}

bool IconPicture::operator==(const IconPicture& other) const {
  return width == other.width && height == other.height && planes == other.planes &&
         bitsPerPixel == other.bitsPerPixel && colour == other.colour && mask == other.mask;
}

static unsigned Fingerprint(const std::vector<BYTE>& bytes) {
  unsigned hash = 2166136261u;
  for (BYTE byte : bytes) hash = (hash ^ byte) * 16777619u;
  return hash;
}

void PrintTo(const IconPicture& picture, std::ostream* out) {
  if (picture.Empty()) {
    *out << "no icon";
    return;
  }
  *out << picture.width << "x" << picture.height << " " << picture.planes << " plane " << picture.bitsPerPixel
       << " bpp, colour " << picture.colour.size() << " bytes #" << std::hex << std::setw(8) << std::setfill('0')
       << Fingerprint(picture.colour) << std::dec << ", mask " << picture.mask.size() << " bytes #" << std::hex
       << std::setw(8) << Fingerprint(picture.mask) << std::dec << std::setfill(' ');
}

}  // namespace harness
