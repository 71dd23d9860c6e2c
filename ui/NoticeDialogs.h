#pragma once
// The About box and the four notices that end a download run. Each is a
// plain modal dialog drawn from its form; none keeps state of its own. OK,
// Enter, Escape and the close box all just end it, and no caller looks at
// the result.

#include <QDialog>

namespace veltrad {

class CAboutDlg final : public QDialog {
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// Every frame acknowledged.
class CCompleteDlg final : public QDialog {
public:
    explicit CCompleteDlg(QWidget* parent = nullptr);
};

// The terminal stayed silent before it acknowledged anything.
class CCommErrorDlg final : public QDialog {
public:
    explicit CCommErrorDlg(QWidget* parent = nullptr);
};

// The terminal went silent after acknowledging at least one frame.
class CCommErrorRetryDlg final : public QDialog {
public:
    explicit CCommErrorRetryDlg(QWidget* parent = nullptr);
};

// One frame refused again after its resends were used up.
class CFailDlg final : public QDialog {
public:
    explicit CFailDlg(QWidget* parent = nullptr);
};

}  // namespace veltrad
