#pragma once

class CXmlObject;
class QLineEdit;

// Masks the line edits of secret properties, each with a toggle at its end that
// shows the text while it is on.
class CSecretFields
{
public:
    // Every secret line edit of tree; fields already protected are left as they are.
    static void protect(const CXmlObject* tree);
    static void protect(QLineEdit* field);
};
