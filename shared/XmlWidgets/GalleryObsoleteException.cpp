#include "GalleryObsoleteException.h"

#include <QCoreApplication>

GalleryObsoleteException::GalleryObsoleteException()
    : CustomWidgetObsoleteException(QCoreApplication::translate(
          "GalleryObsoleteException",
          "An earlier version of Tessary is required to customize this installer. Version 1.6 "
          "or earlier must be used."))
{
}

GalleryObsoleteException::~GalleryObsoleteException() = default;
