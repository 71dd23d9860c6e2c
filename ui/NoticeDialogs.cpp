#include "ui/NoticeDialogs.h"

#include "ui/DialogLook.h"
#include "ui_AboutDlg.h"
#include "ui_CommErrorDlg.h"
#include "ui_CommErrorRetryDlg.h"
#include "ui_CompleteDlg.h"
#include "ui_FailDlg.h"

#include <QPushButton>

namespace veltrad {
namespace {

// The forms' widgets belong to the dialog; the generated holder of their
// pointers is not needed once they exist.
template <class Form>
void SetUpNotice(QDialog& dialog)
{
    Form form;
    form.setupUi(&dialog);
    PrepareTemplateDialog(dialog, DialogFrame::Notice);
    // The OK button (identifier 1) ends the dialog, as Enter does.
    QObject::connect(form.ok1, &QPushButton::clicked, &dialog, &QDialog::accept);
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) { SetUpNotice<Ui::AboutDlg>(*this); }

CCompleteDlg::CCompleteDlg(QWidget* parent) : QDialog(parent) { SetUpNotice<Ui::CompleteDlg>(*this); }

CCommErrorDlg::CCommErrorDlg(QWidget* parent) : QDialog(parent) { SetUpNotice<Ui::CommErrorDlg>(*this); }

CCommErrorRetryDlg::CCommErrorRetryDlg(QWidget* parent) : QDialog(parent) { SetUpNotice<Ui::CommErrorRetryDlg>(*this); }

CFailDlg::CFailDlg(QWidget* parent) : QDialog(parent) { SetUpNotice<Ui::FailDlg>(*this); }

}  // namespace veltrad
