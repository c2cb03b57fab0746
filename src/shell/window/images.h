// The main image list: the icons of the tool bar, the menus and the page tabs, by their index
// in the list, and the logo picture of the left pane and the About box.
#pragma once

#include <QIcon>
#include <QString>

namespace orlendo {

enum TMainImage {
  imgOpen = 0,
  imgExit = 1,
  imgHomepage = 2,
  imgSendMail = 3,
  imgAbout = 4,
  imgPreview = 5,
  imgSave = 6,
  imgSaveAttachments = 7,
  imgProperties = 8,
  imgStructure = 9,
  imgFileTree = 9,
  imgHeader = 12,
  imgFlags = 13,
  imgOptions = 13,
};

// The icon at index of the main image list; an index without a picture gives a null icon.
QIcon MainImage(int index);

// The resource path of the logo picture (SVG).
QString LogoPath();

} // namespace orlendo
