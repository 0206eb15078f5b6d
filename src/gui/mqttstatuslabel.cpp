#include "gui/mqttstatuslabel.h"

#include "publish/mqttpublisher.h"

MqttStatusLabel::MqttStatusLabel(MqttPublisher *publisher, QWidget *parent)
    : QLabel(parent)
    , m_publisher(publisher)
{
    setObjectName(QStringLiteral("lblMqttStatus"));
    connect(publisher, &MqttPublisher::statusChanged, this, &MqttStatusLabel::refresh);
    connect(publisher, &QObject::destroyed, this, [this] { m_publisher = nullptr; });
    refresh();
}

void MqttStatusLabel::refresh()
{
    if (!m_publisher)
        return;
    setText(m_publisher->statusText());
    setToolTip(text());
    const char *colour = "yellow";
    switch (m_publisher->state()) {
    case MqttPublisher::State::Connected:
        colour = "lightgreen";
        break;
    case MqttPublisher::State::Failed:
        colour = "orange";
        break;
    case MqttPublisher::State::Off:
        colour = "grey";
        break;
    default:
        break;
    }
    // Readings that may not survive a restart need the operator as much.
    if (!m_publisher->queueProblem().isEmpty())
        colour = "orange";
    // Refreshed with every reading and every acknowledgement; a style sheet
    // set again repolishes the label even when it is the same, so only a
    // change of colour sets it.
    const QString style = QStringLiteral("background-color: ") + QLatin1String(colour);
    if (styleSheet() != style)
        setStyleSheet(style);
}
