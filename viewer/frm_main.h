// The program's only window: the picture box with its popup menu, the drive,
// directory and file lists, the output name and the two buttons.
#pragma once

#include <QWidget>
#include <array>
#include <filesystem>
#include <memory>

#include "picture/loaded_picture.h"
#include "platform/controls.h"
#include "platform/lists.h"
#include "platform/message_box.h"
#include "platform/picture_box.h"
#include "platform/popup_menu.h"

class QAction;
class QMimeData;

// View modes, numbered like the entries of the view menu.
inline constexpr int ViewActualSize = 0;
inline constexpr int ViewStandard = 1;

class frm_main : public QWidget {
  Q_OBJECT
 public:
  // What the window needs from outside; the defaults are the real desktop.
  struct Services {
    // Answers message boxes; empty means real modal boxes.
    platform::MessageBoxFn message_box;
    // The volumes the drive list offers; null means the mounted ones.
    std::shared_ptr<const platform::VolumeSource> volumes;
  };

  explicit frm_main(Services services = {}, QWidget* parent = nullptr);
  ~frm_main() override;

  // Commands.
  void SelectFile();
  void SavePicture();
  void DrawPicture();
  void ShowPicture(int mode);

  // Event handlers.
  void File_Click();
  void btnSave_Click();
  void btnClose_Click();
  void Fol_Change();
  void Drv_Change();
  void m_PIC_Click(short index);
  void Pic_MouseUp(short button, short shift, float x, float y);

  // Moves the lists to `path`, a folder or a PDT file, as if the user had
  // walked there; a PDT file is then selected and loaded as a click on it
  // would. A relative path is taken from the current directory. Returns an
  // empty string on success, otherwise why the path cannot be opened; the
  // lists then stay where they were, unless the file is one the file list
  // does not show (a hidden file).
  QString OpenPath(const std::filesystem::path& path);
  // What a drop of `data` opens: its first PDT file, or else its first folder;
  // empty when it holds neither.
  static std::filesystem::path DropTarget(const QMimeData* data);

  // The held picture (see picture::IsHeld).
  const picture::LoadedPicture& Picture() const { return picture_; }

  // Controls, named as in the design.
  platform::PictureBox* const Pic;
  platform::DriveList* const Drv;
  platform::DirList* const Fol;
  platform::FileList* const File;
  platform::TextBox* const txt;
  platform::PushButton* const btnSave;
  platform::PushButton* const btnClose;
  // The hidden menu "表示(&V)" used as the picture's popup, and its entries.
  platform::PopupMenu* const m_VIEW;
  std::array<QAction*, 2> m_PIC{};

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  int MsgBox(const QString& text, int style);

  Services services_;
  picture::LoadedPicture picture_;
};
