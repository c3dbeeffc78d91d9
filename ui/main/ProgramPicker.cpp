#include "ProgramPicker.h"

#include "PlayingPrograms.h"
#include "PulseContext.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QIcon>
#include <QMenu>
#include <QPalette>
#include <QSignalBlocker>
#include <QStringList>
#include <QPushButton>

#include <algorithm>

namespace {

QIcon ProgramIcon(const PlayingProgram& program)
{
    const QString name = QString::fromStdString(program.iconName);
    return !name.isEmpty() && QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : QIcon();
}

QString ShownName(const PlayingProgram& program)
{
    const QString name = QString::fromStdString(program.name);
    return program.streams > 0 ? name : name + QString::fromUtf8(ProgramPicker::kNotPlayingSuffix);
}

} // namespace

// Checking a program in the exclusion menu keeps the menu open, so that several can be checked in
// one go.
class ProgramPicker::MenuStaysOpen : public QObject {
public:
    explicit MenuStaysOpen(QMenu& menu) : menu_(menu) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &menu_ && event->type() == QEvent::MouseButtonRelease) {
            QAction* action = menu_.activeAction();
            if (action && action->isCheckable() && action->isEnabled()) {
                action->toggle();
                return true;
            }
        }
        return false;
    }

private:
    QMenu& menu_;
};

ProgramPicker::ProgramPicker(QWidget* row, QComboBox* one, QPushButton* exclude, std::function<void()> changed)
    : row_(row)
    , one_(one)
    , exclude_(exclude)
    , changed_(std::move(changed))
    , receiver_(std::make_unique<QObject>())
{
    if (one_) {
        one_->setPlaceholderText(QString::fromUtf8(kNoProgramsText));
        QObject::connect(one_, &QComboBox::currentIndexChanged, receiver_.get(), [this](int index) { OnChosenIndex(index); });
    }
    if (exclude_) {
        menu_ = new QMenu(exclude_);
        keepOpen_ = std::make_unique<MenuStaysOpen>(*menu_);
        menu_->installEventFilter(keepOpen_.get());
        exclude_->setMenu(menu_);
        QObject::connect(menu_, &QMenu::aboutToShow, receiver_.get(), [this] { menu_->setMinimumWidth(exclude_->width()); });
    }
    // Runs on the server's loop thread with its lock held: only posts one refill at a time.
    listener_ = PulseContext::Instance().AddListener([this] {
        if (!refillPosted_.exchange(true))
            QMetaObject::invokeMethod(receiver_.get(), [this] {
                refillPosted_ = false;
                Refill();
            }, Qt::QueuedConnection);
    });
}

ProgramPicker::~ProgramPicker()
{
    PulseContext::Instance().RemoveListener(listener_); // no call of it runs after this
    if (menu_)
        menu_->removeEventFilter(keepOpen_.get());
}

void ProgramPicker::SetStored(const std::string& chosen, const std::vector<std::string>& excluded)
{
    chosen_ = chosen;
    excluded_ = excluded;
    Refill();
}

void ProgramPicker::SetMode(Mode mode)
{
    mode_ = mode;
    if (row_)
        row_->setVisible(mode != Mode::kNone);
    if (one_)
        one_->setVisible(mode == Mode::kOne);
    if (exclude_)
        exclude_->setVisible(mode == Mode::kExclude);
    Refill();
}

void ProgramPicker::SetDisabledWhy(const char* why)
{
    for (QWidget* control : std::initializer_list<QWidget*>{one_, exclude_}) {
        if (control) {
            control->setEnabled(why == nullptr);
            control->setToolTip(why ? QString::fromUtf8(why) : QString());
        }
    }
    ShowExcludedText();
}

void ProgramPicker::Refill()
{
    const std::vector<PulseSinkInput> streams = PulseContext::Instance().Snapshot().sinkInputs;
    if (one_) {
        const std::vector<PlayingProgram> programs = ListPlayingPrograms(streams, {chosen_});
        {
            const QSignalBlocker quiet(one_); // filling it is no choice of the user's
            one_->clear();
            for (const PlayingProgram& program : programs) {
                one_->addItem(ProgramIcon(program), ShownName(program), QString::fromStdString(program.key));
                if (program.streams == 0)
                    one_->setItemData(one_->count() - 1, one_->palette().color(QPalette::Disabled, QPalette::Text),
                                      Qt::ForegroundRole);
            }
            const auto chosen = std::find_if(programs.begin(), programs.end(), [](const PlayingProgram& p) { return p.chosen; });
            one_->setCurrentIndex(chosen == programs.end() ? -1 : static_cast<int>(chosen - programs.begin()));
        }
        ChooseFirstIfNone(programs);
    }
    if (menu_) {
        menu_->clear();
        const std::vector<PlayingProgram> programs = ListPlayingPrograms(streams, excluded_);
        for (const PlayingProgram& program : programs) {
            QAction* action = menu_->addAction(ProgramIcon(program), ShownName(program));
            action->setCheckable(true);
            action->setChecked(program.chosen);
            action->setData(QString::fromStdString(program.key));
            QObject::connect(action, &QAction::toggled, receiver_.get(), [this] { OnExcludedToggled(); });
        }
        if (programs.empty())
            menu_->addAction(QString::fromUtf8(kNoProgramsText))->setEnabled(false);
        ShowExcludedText();
    }
}

void ProgramPicker::ChooseFirstIfNone(const std::vector<PlayingProgram>& programs)
{
    if (mode_ != Mode::kOne || !chosen_.empty() || programs.empty() || !one_ || !one_->isEnabled())
        return;
    one_->setCurrentIndex(0); // reported as a choice: what shows is what is stored
}

void ProgramPicker::OnChosenIndex(int index)
{
    if (index < 0 || !one_)
        return;
    chosen_ = one_->itemData(index).toString().toStdString();
    if (changed_)
        changed_();
}

void ProgramPicker::OnExcludedToggled()
{
    excluded_.clear();
    for (const QAction* action : menu_->actions())
        if (action->isChecked())
            excluded_.push_back(action->data().toString().toStdString());
    ShowExcludedText();
    if (changed_)
        changed_();
}

void ProgramPicker::ShowExcludedText()
{
    if (!exclude_ || !menu_)
        return;
    QStringList names;
    for (const QAction* action : menu_->actions())
        if (action->isChecked())
            names << action->text();
    const QString text = names.join(QString::fromUtf8("、"));
    if (exclude_->isEnabled())
        exclude_->setToolTip(names.isEmpty() ? QString::fromUtf8(kNoneExcludedTip) : text);
    // The button keeps its width: long lists end in "…", the tip has them all.
    const int room = std::max(exclude_->width(), exclude_->minimumWidth()) - exclude_->iconSize().width() - 16;
    exclude_->setText(names.isEmpty() ? QString::fromUtf8(kNoneExcludedText)
                                      : exclude_->fontMetrics().elidedText(text, Qt::ElideRight, std::max(room, 40)));
}
