#include "viewer/frm_main.h"

#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QDropEvent>
#include <QFile>
#include <QFont>
#include <QMimeData>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "pdt/mdl_pdt.h"
#include "platform/mdl_api.h"
#include "platform/window_metrics.h"

namespace {

// Design sizes in twips (client area 327 × 462 pixels) and pixels.
constexpr float kDesignWidthTwips = 4995.0f;
constexpr float kDesignHeightTwips = 7305.0f;
constexpr float kFrameWidthTwips = 90.0f;
constexpr float kFrameHeightTwips = 375.0f;
constexpr int kStandardPicWidth = 324;
constexpr int kStandardPicHeight = 244;

const QString kMsgNothingToSave = QStringLiteral("ファイルを作成出来ません");
const QString kMsgNoName = QStringLiteral("ファイルを名を指定してください");
const QString kMsgOverwrite =
    QStringLiteral("同じファイル名が存在します\r\n既存のファイルに上書きしますか？");
const QString kMsgSaveFailed = QStringLiteral("ファイルを保存出来ません");

std::filesystem::path ToPath(const QString& name) {
  return std::filesystem::path(QFile::encodeName(name).toStdString());
}

QString ErrnoText(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// Why the file `path` cannot be read, or an empty string when it can.
QString UnreadableReason(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return ErrnoText(errno);
  ::close(fd);
  return {};
}

}  // namespace

frm_main::frm_main(Services services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      Pic(new platform::PictureBox(this)),
      Drv(new platform::DriveList(services.volumes, this)),  // null: the mounted volumes
      Fol(new platform::DirList(services.volumes, this)),
      File(new platform::FileList(this)),
      txt(new platform::TextBox(this)),
      btnSave(new platform::PushButton(QStringLiteral("BMP保存"), this)),
      btnClose(new platform::PushButton(QStringLiteral("閉じる"), this)),
      m_VIEW(new platform::PopupMenu(QStringLiteral("表示(&V)"), this)),
      services_(std::move(services)) {
  setWindowTitle(platform::kAppName);
  // One font for every control, popup and message box of the window.
  platform::InstallFontSubstitutes();
  setAttribute(Qt::WA_WindowPropagation);
  setFont(QFont(platform::kDesignFontFamily, platform::kDesignFontPoints));
  m_VIEW->setFont(font());  // popups take the application's menu font otherwise
  platform::SetOuterSizeTwips(*this, kDesignWidthTwips, kDesignHeightTwips);

  Pic->move(0, 0);
  Pic->SetOuterSize(kStandardPicWidth, kStandardPicHeight);
  Drv->setGeometry(0, 248, 161, 20);
  Fol->setGeometry(0, 272, 161, 132);
  File->setGeometry(168, 248, 150, 210);
  txt->setGeometry(0, 408, 161, 18);
  btnSave->setGeometry(0, 432, 73, 25);
  btnClose->setGeometry(80, 432, 81, 25);
  // The enlarged picture lies over the other controls.
  Pic->raise();

  setTabOrder(Drv, Fol);
  setTabOrder(Fol, File);
  setTabOrder(File, Pic);
  setTabOrder(Pic, txt);
  setTabOrder(txt, btnSave);
  setTabOrder(btnSave, btnClose);

  m_PIC[0] = m_VIEW->Entry(m_VIEW->AddEntry(QStringLiteral("実寸表示(&J)")));
  m_PIC[1] = m_VIEW->Entry(m_VIEW->AddEntry(QStringLiteral("標準表示(&D)")));
  m_PIC[ViewStandard]->setChecked(true);

  btnSave->setEnabled(false);
  File->SetPattern(QStringLiteral("*.pdt"));

  connect(File, &platform::FileList::Click, this, &frm_main::File_Click);
  connect(btnSave, &QPushButton::clicked, this, &frm_main::btnSave_Click);
  connect(btnClose, &QPushButton::clicked, this, &frm_main::btnClose_Click);
  connect(Fol, &platform::DirList::Change, this, &frm_main::Fol_Change);
  connect(Drv, &platform::DriveList::Change, this, &frm_main::Drv_Change);
  connect(m_VIEW, &platform::PopupMenu::Click, this,
          [this](int index) { m_PIC_Click(static_cast<short>(index)); });
  connect(Pic, &platform::PictureBox::MouseUp, this, [this](int button, int shift, int x, int y) {
    Pic_MouseUp(static_cast<short>(button), static_cast<short>(shift), static_cast<float>(x),
                static_cast<float>(y));
  });

  // Files and folders dropped anywhere on the window open as on the command
  // line; the text box would otherwise take them as text.
  setAcceptDrops(true);
  txt->installEventFilter(this);

  // The lists start at the process's current directory, nothing selected.
  std::error_code ec;
  const std::filesystem::path start = std::filesystem::current_path(ec);
  Drv->SetDriveFromPath(platform::ShownPath(start));
  Fol->SetFolder(start);
  if (File->Folder() != Fol->Folder()) Fol_Change();
}

frm_main::~frm_main() = default;

int frm_main::MsgBox(const QString& text, int style) {
  if (services_.message_box) return services_.message_box(text, style);
  return platform::ShowMessageBox(this, text, style);
}

// ---- Painting and view modes ----

void frm_main::DrawPicture() {
  const mdl_api::DeviceContext hdc = Pic->hDC();
  const mdl_pdt::PdtHeader& header = picture_.Header;
  mdl_api::StretchDIBits(hdc, Pic->ScaleLeft(), Pic->ScaleTop(), Pic->ScaleWidth(),
                         Pic->ScaleHeight(), 0, 0, header.Width, header.Height, picture_.Pixels,
                         picture_.Info, mdl_api::DIB_RGB_COLORS, mdl_api::SRCCOPY);
  Pic->Refresh();
}

void frm_main::ShowPicture(int mode) {
  if (!picture::IsHeld(picture_)) return;
  if (mode == ViewActualSize) {
    m_PIC[ViewActualSize]->setChecked(true);
    m_PIC[ViewStandard]->setChecked(false);
    Pic->SetOuterSize(picture_.Header.Width + 4, picture_.Header.Height + 4);
    const float width =
        static_cast<float>(Pic->OuterWidth()) * platform::TwipsPerPixelX() + kFrameWidthTwips;
    const float height =
        static_cast<float>(Pic->OuterHeight()) * platform::TwipsPerPixelY() + kFrameHeightTwips;
    platform::SetOuterSizeTwips(*this, width, height);
  } else if (mode == ViewStandard) {
    m_PIC[ViewActualSize]->setChecked(false);
    m_PIC[ViewStandard]->setChecked(true);
    Pic->SetOuterSize(kStandardPicWidth, kStandardPicHeight);
    platform::SetOuterSizeTwips(*this, kDesignWidthTwips, kDesignHeightTwips);
  }
  DrawPicture();
}

void frm_main::m_PIC_Click(short index) {
  ShowPicture(index);
}

void frm_main::Pic_MouseUp(short button, short /*shift*/, float x, float y) {
  if (button == platform::kRightButton) {
    const QPoint at =
        Pic->contentsRect().topLeft() + QPoint(static_cast<int>(x), static_cast<int>(y));
    m_VIEW->Popup(Pic->mapToGlobal(at), platform::kPopupRightButton);
  } else {
    ShowPicture(ViewStandard);
  }
}

// ---- File selection and save ----

void frm_main::SelectFile() {
  const QString name = File->FileName();
  const QString full = File->Path() + QLatin1Char('/') + name;
  if (!picture::HasPdtSuffix(full.right(3).toStdString())) {
    btnSave->setEnabled(false);
    return;
  }
  // Clears the held picture first. The file is opened by the name the file
  // system gave it; `name` is how it is shown. A file that cannot be opened or
  // read fails here like a broken one, and leaves nothing held.
  if (picture::LoadPicture(File->FilePath(), picture_) == mdl_pdt::PdtStatus::Ok) {
    DrawPicture();
    txt->setText(QString::fromStdString(picture::ProposedName(name.toStdString())));
    Pic->SetToolTipText(name);
    btnSave->setEnabled(true);
  } else {
    btnSave->setEnabled(false);
  }
}

void frm_main::SavePicture() {
  if (!picture::IsHeld(picture_)) {
    MsgBox(kMsgNothingToSave, platform::kCritical);
    return;
  }
  const QString name = txt->text();
  if (name.isEmpty()) {
    MsgBox(kMsgNoName, platform::kCritical);
    return;
  }
  const std::filesystem::path path = ToPath(name);
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  files::Replace replace = files::Replace::Never;
  if (std::filesystem::exists(status) && !std::filesystem::is_directory(status)) {
    if (MsgBox(kMsgOverwrite, platform::kQuestion | platform::kYesNo) != platform::kAnswerYes) {
      return;
    }
    replace = files::Replace::Allowed;
  }
  // The new file is written completely before it replaces the old one, so a
  // failure leaves the old file as it was.
  bmp::WriteStatus written = picture::WriteBmp(path, picture_, replace);
  // A file that appeared while the picture was written is replaced only once
  // the question is answered Yes.
  if (written == bmp::WriteStatus::Exists) {
    if (MsgBox(kMsgOverwrite, platform::kQuestion | platform::kYesNo) != platform::kAnswerYes) {
      return;
    }
    written = picture::WriteBmp(path, picture_, files::Replace::Allowed);
  }
  if (written != bmp::WriteStatus::Ok) MsgBox(kMsgSaveFailed, platform::kCritical);
}

void frm_main::File_Click() {
  SelectFile();
}

void frm_main::btnSave_Click() {
  SavePicture();
}

// ---- Layout and browsing ----

void frm_main::btnClose_Click() {
  close();
}

void frm_main::Fol_Change() {
  File->SetFolder(Fol->Folder());
}

void frm_main::Drv_Change() {
  // An unavailable volume sends the drive list back to where the folders are;
  // any other error is ignored.
  if (Fol->SetPath(Drv->Drive()) == platform::kErrDeviceUnavailable) {
    Drv->SetDriveFromPath(Fol->Path());
  }
}

// ---- Opening a path from outside ----

QString frm_main::OpenPath(const std::filesystem::path& path) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec).lexically_normal();
  const auto status = std::filesystem::status(absolute, ec);
  if (ec) return QString::fromLocal8Bit(ec.message());
  std::filesystem::path folder;
  std::filesystem::path name;
  if (std::filesystem::is_directory(status)) {
    folder = absolute;
  } else if (std::filesystem::is_regular_file(status)) {
    if (!picture::HasPdtSuffix(absolute.filename().native()))
      return QStringLiteral("not a PDT file");
    const QString reason = UnreadableReason(absolute);
    if (!reason.isEmpty()) return reason;
    folder = absolute.parent_path();
    name = absolute.filename();
  } else {
    return QStringLiteral("neither a folder nor a file");
  }
  const int error = Fol->SetFolder(folder);
  if (error == platform::kErrDeviceUnavailable) return ErrnoText(ENODEV);
  if (error == platform::kErrPathNotFound) return ErrnoText(ENOENT);
  if (error != 0) return ErrnoText(EACCES);
  Drv->SetDriveFromPath(Fol->Path());
  if (File->Folder() != Fol->Folder()) Fol_Change();
  if (name.empty() || File->SelectName(name)) return {};
  // Made since the list was last read: read it now rather than wait for the
  // watcher.
  File->Refresh();
  if (!File->SelectName(name)) return QStringLiteral("not shown in the file list (hidden)");
  return {};
}

std::filesystem::path frm_main::DropTarget(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  std::filesystem::path folder;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const std::filesystem::path path = platform::FsPathFromUrl(url);
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (std::filesystem::is_regular_file(status) &&
        picture::HasPdtSuffix(path.filename().native())) {
      return path;
    }
    if (std::filesystem::is_directory(status) && folder.empty()) folder = path;
  }
  return folder;
}

void frm_main::dragEnterEvent(QDragEnterEvent* event) {
  if (!DropTarget(event->mimeData()).empty()) event->acceptProposedAction();
}

void frm_main::dragMoveEvent(QDragMoveEvent* event) {
  if (!DropTarget(event->mimeData()).empty()) event->acceptProposedAction();
}

void frm_main::dropEvent(QDropEvent* event) {
  const std::filesystem::path target = DropTarget(event->mimeData());
  if (target.empty()) return;
  event->acceptProposedAction();
  OpenPath(target);
}

bool frm_main::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == txt &&
      (type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop)) {
    // Files are opened, or refused, as on the rest of the window; only text
    // is the text box's own.
    auto* drop = static_cast<QDropEvent*>(event);
    if (drop->mimeData()->hasUrls()) {
      const std::filesystem::path target = DropTarget(drop->mimeData());
      if (target.empty()) {
        drop->ignore();
      } else {
        drop->acceptProposedAction();
        if (type == QEvent::Drop) OpenPath(target);
      }
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
