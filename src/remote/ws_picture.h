#pragma once
// Pictures of the peer's screen, received in chunks of up to 512 bytes: each chunk carries
// the picture's total size T and its own offset P. When the last chunk is in, a picture of
// exactly the screen's size is shown as it is; anything else is JPEG data, decoded and
// shown only when it decodes to exactly the screen's size.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct Works;

constexpr size_t WS_PICTURE_CHUNK = 512;

// The picture being assembled: a buffer of the connection's own, so that chunks never
// touch the screen's background while they arrive.
struct PictureAssembly {
    std::vector<unsigned char> data;
};

// One "FB" message (the fields after the tag: T, P, then the chunk bytes). Returns 0 when
// taken (the picture shown when it was the last chunk), -1 when the chunk does not fit
// (an offset or size past the total, a total over the screen's size, too few bytes),
// which ends the connection, or -2 when a complete picture could not be shown.
int pictureChunk(Works* works, PictureAssembly& picture, std::span<const unsigned char> fields);

// Decodes length bytes of JPEG data into the screen's working buffer (4 bytes per pixel,
// the screen's byte order). 0 on success; -1 (logged) when the data does not decode or
// decodes to a size other than the screen's, and then drawBuf is left as it was.
int Uncompress(Works* works, const unsigned char* data, size_t length);
