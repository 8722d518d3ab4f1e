#pragma once
#include <QFileDialog>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>

#include "window/Dispatch.h"
#include "window/Pages.h"

class CLampState;
class CLightInput;
class CchannelValues;
class Coptions;
class Clock;
class D2xx;
class QButtonGroup;
namespace Ui {
class TForm1;
}

// Where the window finds its files and its lamps.
struct FormSetup {
    QString dataFolder;  // options.xml, values.xml, image.bmp
    QString logFile;     // the protocol log
    // The lamps' bus; null lets the option SIMULATE choose the simulated or the real one.
    D2xx* bus = nullptr;
    // Null for the wall clock.
    Clock* clock = nullptr;
};

// The main window: its pages, the controls of the main page, and the start and end of the
// lamp controller. Handlers only translate events into calls on the objects below the window.
class TForm1 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm1(const FormSetup& setup, QWidget* parent = nullptr);
    ~TForm1() override;

    // False when start-up could not go on (no options file) and the program is to end.
    bool Started() const { return started_; }
    Page CurrentPage() const { return page_; }
    const QString& ProgramVersionText() const { return programVersion_; }
    // The lamp controller; null when start-up did not get that far.
    CLampState* Controller() const { return controller_.get(); }
    // The options store and the stored channel list; null when start-up did not get that far.
    const Coptions* Options() const { return optionsStore_.get(); }
    CchannelValues* Presets() const { return presets_.get(); }

    void ShowPage(Page page);
    void ShowMessagePage(const QString& text);
    // Applies the visibility rule of the main page.
    void UpdateVisibility();

    // The controller's three reports, run on the window's thread.
    void LampConnected();
    void LampStateChanged();
    void LampStatus();

    QTimer* Timer1 = nullptr;
    QTimer* Timer2 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* OpenDialog2 = nullptr;
    // Pictures of SpeedButton1: 0 an empty check box, 1 a ticked one.
    std::array<QPixmap, 2> ImageList1;

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Start-up, in order; false when the options file is missing.
    bool Construct();
    void FormCreate();
    void FormClose();
    void FormKeyDown(int key, Qt::KeyboardModifiers modifiers);
    void Timer1Timer();
    void Timer2Timer();

    // The lamp controller's whole life, in three places.
    void CreateController();
    void StartController(int runBaud);
    void StopController();

    void BuildLayout();
    void ConnectHandlers();
    bool MeasurementAvailable() const;
    bool FirstChannelProtected() const;
    void ShowVersionLine();

    // Handlers the later parts of the window fill in.
    void Button1Click() {}
    void Button2Click() {}
    void Button3Click() {}
    void Button4Click() {}
    void Button5Click() {}
    void Button9Click() {}
    void Button10Click();
    void Button12Click() {}
    void SpeedButton1Click() {}
    void SpeedButton2Click() {}
    void SpeedButton3Click() {}
    void SpeedButton4Click() {}
    void SpeedButton5Click() {}
    void CheckBox1Click() {}
    void CheckBox2Click() {}
    void CheckBox3Click() {}
    void CheckBox4Click() {}
    void CheckBox5Click() {}
    void CheckBox6Click() {}
    void ComboBox3Change() {}
    void Edit4Click() {}
    void Image1MouseDown(Qt::MouseButton, int, int) {}
    void Image1MouseMove(Qt::MouseButtons, int, int) {}
    void Image1MouseUp(Qt::MouseButton, int, int) {}
    void Image2MouseDown(Qt::MouseButton button, int x, int y);
    void Image3MouseDown(Qt::MouseButton, int, int) {}
    void Image5MouseDown(Qt::MouseButton, int, int) {}
    void Image5MouseMove(Qt::MouseButtons, int, int) {}
    void Image5MouseUp(Qt::MouseButton, int, int) {}
    void Image7MouseDown(Qt::MouseButton, int, int) {}
    void Image7MouseMove(Qt::MouseButtons, int, int) {}
    void Image7MouseUp(Qt::MouseButton, int, int) {}
    void Image8MouseDown(Qt::MouseButton, int, int) {}
    void Image8MouseMove(Qt::MouseButtons, int, int) {}
    void Image8MouseUp(Qt::MouseButton, int, int) {}
    void Memo1MouseDown();

    std::unique_ptr<Ui::TForm1> ui;
    FormSetup setup_;
    QtDispatcher dispatcher_;
    QButtonGroup* modeGroup_ = nullptr;
    bool started_ = false;
    bool closing_ = false;
    bool closed_ = false;
    Page page_ = Page::None;
    QString programVersion_;

    // Options read at start-up; missing keys keep these values.
    struct FormOptions {
        int simulate = 0;  // simulated lamps instead of the USB bridge
        bool log = false;
        bool test = false;
        bool sd = false;
        bool c1s = false;
        QString luxText;
        double offsetX = 0;
        double offsetY = 0;
        std::array<float, 6> gamut{};
        double speed = 0;
    };
    // Reads options.xml; false when it is missing or not an options file.
    bool LoadOptions();
    std::unique_ptr<Coptions> optionsStore_;
    FormOptions options_;

    // Destroyed in reverse: the controller lets its lamps go before the lamp and the bus vanish.
    std::unique_ptr<D2xx> ownedBus_;
    std::unique_ptr<CLightInput> lamp_;
    std::unique_ptr<CLampState> controller_;
    std::unique_ptr<CchannelValues> presets_;
};
