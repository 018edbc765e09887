// stb's PNG writer and image resizer, compiled into skinview rather than taken from a shared
// library, so that the Linux build and the static Windows build are made alike.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>
