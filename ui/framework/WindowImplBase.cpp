#include "WindowImplBase.h"

#include "GifControl.h"
#include "SkinLoader.h"
#include "SkinResources.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>
#include <QScreen>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <QVariant>
#include <QWindow>

#include <algorithm>
#include <exception>

#include <glog/logging.h>

namespace {

// Dynamic properties of a skin's top widget.
constexpr const char* kCaptionHeightProperty = "captionHeight";
constexpr const char* kRoundCornerProperty = "roundCorner";
// Marks a control whose notifications are already connected.
constexpr const char* kWiredProperty = "_tamsuNotifyWired";
// Qt names its own inner widgets (scroll area parts, spin box editors) with this prefix.
constexpr const char* kQtInternalPrefix = "qt_";

// A posted window message or close request, delivered to the window on its thread.
class WindowEvent : public QEvent {
public:
    enum class Kind { kMessage, kClose };

    static QEvent::Type EventType()
    {
        static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
        return type;
    }

    WindowEvent(Kind kind, unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
        : QEvent(EventType())
        , kind(kind)
        , msg(msg)
        , wParam(wParam)
        , lParam(lParam)
    {
    }

    const Kind kind;
    const unsigned msg;
    const std::uintptr_t wParam;
    const std::intptr_t lParam;
};

// Runs a hook at the framework's boundary: an exception is logged with the window and the
// operation and reported as false; it never propagates into Qt.
template <class Hook>
bool RunHook(const QString& window, const char* operation, Hook&& hook)
{
    try {
        hook();
        return true;
    } catch (const std::exception& e) {
        LOG(ERROR) << "window \"" << window.toStdString() << "\": " << operation << " failed: " << e.what();
    } catch (...) {
        LOG(ERROR) << "window \"" << window.toStdString() << "\": " << operation << " failed";
    }
    return false;
}

} // namespace

struct WindowImplBase::ModalState {
    QEventLoop loop;
    int result = 0;
    bool destroyed = false; // the window was deleted while the loop ran
};

WindowImplBase::WindowImplBase()
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint)
{
}

WindowImplBase::~WindowImplBase()
{
    if (modal_) {
        modal_->destroyed = true;
        modal_->loop.exit(modal_->result);
    }
}

// ---- Default hooks ------------------------------------------------------------------------------

void WindowImplBase::OnCreate() {}

void WindowImplBase::InitWindow() {}

std::intptr_t WindowImplBase::HandleCustomMessage(unsigned, std::uintptr_t, std::intptr_t, bool& handled)
{
    handled = false;
    return 0;
}

void WindowImplBase::Notify(TNotifyUI& msg)
{
    if (msg.type != QLatin1String(kNotifyClick))
        return;
    if (msg.senderName == QLatin1String("closebtn"))
        Close(0);
    else if (msg.senderName == QLatin1String("minbtn"))
        showMinimized();
    else if (msg.senderName == QLatin1String("maxbtn"))
        showMaximized();
    else if (msg.senderName == QLatin1String("restorebtn"))
        showNormal();
}

void WindowImplBase::OnFinalMessage() {}

QString WindowImplBase::GetSkinFolder() const
{
    return SkinFolder();
}

QWidget* WindowImplBase::CreateControl(const QString&, QWidget*, const QString&)
{
    return nullptr;
}

void WindowImplBase::OnClose(int, bool& handled)
{
    handled = false;
}

void WindowImplBase::OnTimer(int) {}

// ---- Creation -----------------------------------------------------------------------------------

QString WindowImplBase::ClassNameForLog() const
{
    QString name;
    if (!RunHook(QStringLiteral("?"), "GetWindowClassName", [&] { name = GetWindowClassName(); }))
        name = QStringLiteral("?");
    return name;
}

bool WindowImplBase::Create(QWidget* owner, const QString& title, Qt::WindowFlags flags)
{
    const QString className = ClassNameForLog();
    if (root_ || ended_) {
        LOG(ERROR) << "window \"" << className.toStdString() << "\": Create called twice";
        return false;
    }
    if (!flags)
        flags = owner ? Qt::Dialog : Qt::Window;
    setParent(owner, flags | Qt::FramelessWindowHint);
    setObjectName(className);
    setWindowTitle(title);

    QString folder;
    if (!RunHook(className, "GetSkinFile", [&] { skinFile_ = GetSkinFile(); })
        || !RunHook(className, "GetSkinFolder", [&] { folder = GetSkinFolder(); }))
        return false;

    root_ = LoadSkinWidget(skinFile_, this);
    if (!root_) {
        LOG(ERROR) << "window \"" << className.toStdString() << "\": not created, skin file \""
                   << (folder + skinFile_).toStdString() << "\" could not be loaded";
        return false;
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The window's size is what Create and ResizeClient say, not the layout's minimum.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    layout->addWidget(root_);
    captionHeight_ = root_->property(kCaptionHeightProperty).toInt();
    roundCorner_ = root_->property(kRoundCornerProperty).toInt();
    resize(root_->size());
    UpdateWindowRegion();

    initialising_ = true;
    const bool ok = RunHook(className, "OnCreate", [&] { OnCreate(); })
                    && RunHook(className, "InitWindow", [&] { InitWindow(); });
    initialising_ = false;
    if (!ok) {
        delete root_;
        root_ = nullptr;
        LOG(ERROR) << "window \"" << className.toStdString() << "\": not created";
        return false;
    }
    return true;
}

QWidget* WindowImplBase::LoadSkinWidget(const QString& skinFile, QWidget* parent)
{
    const QString folder = GetSkinFolder();
    QWidget* widget = SkinLoader::LoadSkinWidget(
        skinFile, parent,
        [this](const QString& className, QWidget* p, const QString& name) { return CreateControl(className, p, name); },
        folder);
    if (!widget)
        return nullptr;
    GifControl::SetUpSkinGifs(widget, folder);
    AttachNotifications(widget);
    return widget;
}

QWidget* WindowImplBase::AddListElement(QListWidget* list, const QString& skinFile)
{
    if (!list)
        return nullptr;
    QWidget* element = LoadSkinWidget(skinFile, nullptr);
    AppendListElement(list, element);
    return element;
}

void WindowImplBase::AttachNotifications(QWidget* subtree)
{
    if (!subtree)
        return;
    QList<QWidget*> widgets = subtree->findChildren<QWidget*>();
    widgets.prepend(subtree);
    for (QWidget* w : widgets) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String(kQtInternalPrefix)) || w->property(kWiredProperty).toBool())
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            connect(button, &QAbstractButton::clicked, this, [this, button] { SendNotify(button, kNotifyClick, 0, 0); });
            connect(button, &QAbstractButton::toggled, this, [this, button](bool on) {
                if (button->isCheckable())
                    SendNotify(button, kNotifySelectChanged, on ? 1 : 0, 0);
            });
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            connect(combo, &QComboBox::currentIndexChanged, this,
                    [this, combo, previous = combo->currentIndex()](int index) mutable {
                        const int old = previous;
                        previous = index;
                        SendNotify(combo, kNotifyItemSelect, static_cast<std::uintptr_t>(index), old);
                    });
        } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
            connect(slider, &QAbstractSlider::valueChanged, this,
                    [this, slider](int value) { SendNotify(slider, kNotifyValueChanged, static_cast<std::uintptr_t>(value), 0); });
        } else {
            continue;
        }
        w->setProperty(kWiredProperty, true);
    }
}

void WindowImplBase::SendNotify(QWidget* sender, const char* type, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (initialising_ || ended_)
        return;
    TNotifyUI msg{QString::fromLatin1(type), sender, sender->objectName(), wParam, lParam};
    RunHook(objectName(), "Notify", [&] { Notify(msg); });
}

// ---- Placement and showing ----------------------------------------------------------------------

void WindowImplBase::CenterWindow()
{
    QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const bool ownerShown = owner && owner->isVisible() && !owner->isMinimized();
    QScreen* screen = ownerShown ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen && !ownerShown)
        return;
    const QRect area = screen ? screen->availableGeometry() : QRect();
    const QRect target = ownerShown ? owner->frameGeometry() : area;
    const QSize own = frameGeometry().size();
    int x = target.x() + (target.width() - own.width()) / 2;
    int y = target.y() + (target.height() - own.height()) / 2;
    if (area.isValid()) { // keep it on the screen
        x = std::max(area.left(), std::min(x, area.left() + area.width() - own.width()));
        y = std::max(area.top(), std::min(y, area.top() + area.height() - own.height()));
    }
    move(x, y);
}

void WindowImplBase::ShowWindow(bool show, bool activate)
{
    if (!show) {
        hide();
        return;
    }
    if (!root_) {
        LOG(ERROR) << "window \"" << objectName().toStdString() << "\": shown without being created";
        return;
    }
    setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    QWidget::show();
    if (activate) {
        raise();
        activateWindow();
    }
}

void WindowImplBase::ResizeClient(int width, int height)
{
    resize(std::max(width, 0), std::max(height, 0));
}

int WindowImplBase::ShowModal()
{
    if (!root_ || ended_) {
        LOG(ERROR) << "window \"" << objectName().toStdString() << "\": ShowModal on a window that was not created";
        delete this;
        return 0;
    }
    if (modal_) {
        LOG(ERROR) << "window \"" << objectName().toStdString() << "\": ShowModal while already modal";
        return 0;
    }
    ModalState state;
    modal_ = &state;
    if (isVisible())
        hide(); // the modality of a visible window cannot change
    setWindowModality(parentWidget() ? Qt::WindowModal : Qt::ApplicationModal);
    ShowWindow(true, true);
    state.loop.exec();
    if (state.destroyed)
        return state.result; // deleted while the loop ran (its owner went away)
    modal_ = nullptr;
    if (!ended_)
        EndWindow(0); // the loop ended without Close (the application is quitting)
    const int result = state.result;
    delete this;
    return result;
}

// ---- Closing ------------------------------------------------------------------------------------

void WindowImplBase::Close(int code)
{
    QCoreApplication::postEvent(this, new WindowEvent(WindowEvent::Kind::kClose, 0, static_cast<std::uintptr_t>(code), 0));
}

void WindowImplBase::HandleCloseRequest(int code)
{
    if (ended_)
        return;
    bool handled = false;
    RunHook(objectName(), "OnClose", [&] { OnClose(code, handled); });
    if (handled)
        return;
    EndWindow(code);
    if (!modal_)
        deleteLater(); // a modal window is deleted by ShowModal once its loop has returned
}

void WindowImplBase::EndWindow(int code)
{
    if (ended_)
        return;
    ended_ = true;
    for (const auto& [id, qtId] : timers_)
        killTimer(qtId);
    timers_.clear();
    hide();
    if (modal_) {
        modal_->result = code;
        modal_->loop.exit(code);
    }
    RunHook(objectName(), "OnFinalMessage", [&] { OnFinalMessage(); });
}

void WindowImplBase::closeEvent(QCloseEvent* event)
{
    if (ended_) {
        event->accept();
        return;
    }
    event->ignore(); // the window ends through Close, like every other window
    Close(0);
}

void WindowImplBase::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && modal_) {
        Close(0);
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---- Messages and timers ------------------------------------------------------------------------

void WindowImplBase::PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    QCoreApplication::postEvent(this, new WindowEvent(WindowEvent::Kind::kMessage, msg, wParam, lParam));
}

bool WindowImplBase::event(QEvent* event)
{
    if (event->type() != WindowEvent::EventType())
        return QWidget::event(event);
    const auto* windowEvent = static_cast<WindowEvent*>(event);
    if (windowEvent->kind == WindowEvent::Kind::kClose) {
        HandleCloseRequest(static_cast<int>(windowEvent->wParam));
    } else if (!ended_) {
        bool handled = false;
        RunHook(objectName(), "HandleCustomMessage", [&] {
            HandleCustomMessage(windowEvent->msg, windowEvent->wParam, windowEvent->lParam, handled);
        });
    }
    return true;
}

bool WindowImplBase::SetTimer(int id, int milliseconds)
{
    if (milliseconds < 0 || ended_)
        return false;
    KillTimer(id);
    const int qtId = startTimer(milliseconds);
    if (qtId == 0)
        return false;
    timers_[id] = qtId;
    return true;
}

bool WindowImplBase::KillTimer(int id)
{
    const auto it = timers_.find(id);
    if (it == timers_.end())
        return false;
    killTimer(it->second);
    timers_.erase(it);
    return true;
}

void WindowImplBase::timerEvent(QTimerEvent* event)
{
    const auto it = std::find_if(timers_.begin(), timers_.end(),
                                 [event](const auto& entry) { return entry.second == event->timerId(); });
    if (it == timers_.end()) {
        QWidget::timerEvent(event);
        return;
    }
    const int id = it->first;
    RunHook(objectName(), "OnTimer", [&] { OnTimer(id); });
}

// ---- Caption drag and window region -------------------------------------------------------------

bool WindowImplBase::InCaption(const QPoint& pos) const
{
    if (captionHeight_ < 0)
        return true;
    return pos.y() >= 0 && pos.y() < captionHeight_;
}

void WindowImplBase::mousePressEvent(QMouseEvent* event)
{
    // Only presses that no control took reach the window itself.
    if (event->button() != Qt::LeftButton || !InCaption(event->position().toPoint()) || isMaximized()) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (windowHandle() && windowHandle()->startSystemMove())
        return; // the window manager moves it
    dragging_ = true;
    dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void WindowImplBase::mouseMoveEvent(QMouseEvent* event)
{
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void WindowImplBase::mouseReleaseEvent(QMouseEvent* event)
{
    if (dragging_ && event->button() == Qt::LeftButton) {
        dragging_ = false;
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void WindowImplBase::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    UpdateWindowRegion();
}

void WindowImplBase::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateWindowRegion();
}

void WindowImplBase::UpdateWindowRegion()
{
    if (roundCorner_ <= 0)
        return;
    if (isMaximized() || isFullScreen())
        clearMask();
    else
        setMask(RoundedWindowRegion(size(), roundCorner_));
}
