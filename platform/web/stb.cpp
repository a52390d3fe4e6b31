// The image reader and writer the native build links from Debian's libstb,
// compiled into the page's module (stb is header-only at heart).
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
