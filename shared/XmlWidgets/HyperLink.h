#pragma once

#include "Button.h"

#include <QPixmap>

// A flat, image-showing push button ("link"): the image follows the pointer (up,
// hover, pressed). Shows no mouse-over help text.
class CHyperLink : public CButton
{
    Q_OBJECT

public:
    CHyperLink(CXmlObject* parentObject, QWidget* parentWidget);
    ~CHyperLink() override;

    // As a push button, then "icon"/"upicon" (all three images), "downicon" and
    // "hovericon" (file or resource paths).
    int parse(TiXmlElement* element, QString& error) override;

    // The image shown at the moment.
    const QPixmap& shownImage() const;

protected:
    void enterEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Down while pressed, else hover while under the pointer, else up.
    void updateImage();

    QPixmap m_ButtonUp;
    QPixmap m_ButtonDown;
    QPixmap m_ButtonHover;
    bool m_bHovered = false;
};
