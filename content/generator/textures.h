#pragma once

// Textures the materials read, the title and closing cards, the program's
// icon and settings-dialog picture.
#include <map>
#include <string>

#include "content/formats/font.h"
#include "content/formats/image.h"

namespace content {

struct Fonts {
  Font sans, sansBold, serif;
};

// Paths under data/ -> pictures.
std::map<std::string, Image> Textures(const Fonts& fonts);

Image Icon(const Fonts& fonts);          // 64x64
Image TitlePicture(const Fonts& fonts);  // 300x80

// The caustics with red shifted back and blue forward (textures/causticsrgb.dds).
Image CausticsFringes();

}  // namespace content
