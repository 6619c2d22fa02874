// libexifreader: one EXIF tag of a picture file as text, for the launcher.
//
// ReadExifTag(path, tag, buffer) writes into the caller's buffer of ExifBufferSize bytes a
// zero-terminated text of at most ExifBufferSize - 1 characters (longer values are cut) and
// returns 1 when that text is not empty, 0 otherwise:
//   - ExifTagModel (IFD0, ASCII): the bytes as stored up to the first NUL, blanks kept; a value
//     without a NUL gives all its bytes.
//   - ExifTagPixelXDimension (Exif IFD, BYTE/SHORT/LONG or signed): the first value in decimal.
//   - ExifTagFocalLength (Exif IFD, RATIONAL or SRATIONAL): the first value as
//     "numerator/denominator" in decimal, not reduced.
//   - Any other tag number is looked up in IFD0, then in the Exif IFD, and given the same way by
//     its stored type (ASCII as text, integers in decimal, rationals as "n/d", first value
//     only); tags of other types (UNDEFINED, FLOAT, DOUBLE) give an empty text.
// Tags are matched by number in their IFD only, never in a thumbnail IFD or a maker note. A
// known tag stored with a type that does not fit it counts as absent.
// A missing tag, a path that is null, empty, not a regular file or not a readable picture all
// give an empty text. The path is always a local file name (no URLs, no "-" for stdin). A null
// buffer is left alone. No exception leaves the function, and exiv2's own log messages are
// silenced for the whole process on the first call.
//
// ReadPictureWidth(path) returns the width in pixels of the picture itself (from its image data:
// a JPEG's frame header, a PNG's header, a TIFF's first image), whatever its EXIF data claims,
// or -1 when the path is not a picture whose width can be read this way. Same rules for paths
// and exceptions as ReadExifTag.
#ifndef LAUNCHER_EXIFREADER_EXIF_READER_H
#define LAUNCHER_EXIFREADER_EXIF_READER_H

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) int ReadExifTag(const char* path, int tag, char* buffer);
__attribute__((visibility("default"))) int ReadPictureWidth(const char* path);

#ifdef __cplusplus
}

constexpr int ExifBufferSize = 2048;
constexpr int ExifTagModel = 272;              // 0x0110
constexpr int ExifTagPixelXDimension = 40962;  // 0xA002
constexpr int ExifTagFocalLength = 37386;      // 0x920A
#endif

#endif
