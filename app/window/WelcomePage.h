#pragma once

#include "shared/XmlWidgets/Page.h"

class CPageHolder;

// The built-in first page: explains how to use the tool. It stays the first
// page of every document.
class CWelcomePage : public CPage
{
    Q_OBJECT

public:
    CWelcomePage(CPageHolder* holder, QWidget* parent);
    ~CWelcomePage() override;

    // The page's name and object name, by which the index links to it.
    void setPageName(const QString& name);
};
