#pragma once
// The maker's panel above the status bar: the logo (it opens the maker's web
// page), the postal address and support telephone, the support mail link,
// and the button to the service records.
#include <functional>

#include <QWidget>

class QLabel;
class QPushButton;
class QUrl;

inline constexpr const char *kMakerWebPage = "https://www.corvane.example/";
inline constexpr const char *kMakerSupportMail = "support@corvane.example";

class TMakerPanel : public QWidget {
    Q_OBJECT

public:
    explicit TMakerPanel(QWidget *parent = nullptr);

    // Opens a link (the web page, a new mail message); set by the window.
    std::function<void(const QUrl &)> OnOpenUrl;

    QLabel *Logo() const { return FLogo; }
    QPushButton *RecordsBtn() const { return FRecordsBtn; }
    QPushButton *ProgramBtn() const { return FProgramBtn; }
    // CustomerImageClick: the maker's web page.
    void LogoClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QLabel *FLogo = nullptr;
    QPushButton *FRecordsBtn = nullptr;
    QPushButton *FProgramBtn = nullptr;
};
