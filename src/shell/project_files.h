#pragma once
// Project files (*.qz4): the whole set-up of the program's own windows, saved to and loaded
// from a file the operator chooses. One form-state section per window, in the windows'
// creation order: MainForm, RxDrawForm, SchemaForm, LinkForm (the list the callers pass).

#include <QList>
#include <QString>

#include "widgets/dialogs.h"

class QWidget;

// LoadFormState for every window in order; stops at the first window whose load fails.
bool LoadAllForms(const QString& fileName, const QList<QWidget*>& windows);
// SaveFormState for every window in order, in one write of the file.
bool SaveAllForms(const QString& fileName, const QList<QWidget*>& windows);

// Show the dialog and load / save the windows; return the caption the owner window is to show:
// the chosen file's full name after success, else the owner's current caption.
QString OpenProject(FileDialogRequest& dialog, QWidget* owner, const QList<QWidget*>& windows);
QString SaveProjectAs(FileDialogRequest& dialog, QWidget* owner, const QList<QWidget*>& windows);
