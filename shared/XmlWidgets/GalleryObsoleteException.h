#pragma once

#include "CustomWidgetObsoleteException.h"

// A definition using the retired "galleryaction" element needs an older tool.
class GalleryObsoleteException : public CustomWidgetObsoleteException
{
public:
    GalleryObsoleteException();
    ~GalleryObsoleteException() override;
};
