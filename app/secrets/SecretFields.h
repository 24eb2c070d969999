#pragma once

class CXmlObject;
class QLineEdit;
class QPlainTextEdit;

// Masks the line and text edits of secret properties, each with a toggle (at a line
// edit's end, in a text edit's corner) that shows the text while it is on.
class CSecretFields
{
public:
    // Every secret line and text edit of tree; fields already protected are left as they are.
    static void protect(const CXmlObject* tree);
    static void protect(QLineEdit* field);
    static void protect(QPlainTextEdit* field);
};
