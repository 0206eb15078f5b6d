#include "publish/mqttstatuslabel.h"

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
    switch (m_publisher->state()) {
    case MqttPublisher::State::Connected:
        setStyleSheet(QStringLiteral("background-color: lightgreen"));
        break;
    case MqttPublisher::State::Failed:
        setStyleSheet(QStringLiteral("background-color: orange"));
        break;
    case MqttPublisher::State::Off:
        setStyleSheet(QStringLiteral("background-color: grey"));
        break;
    default:
        setStyleSheet(QStringLiteral("background-color: yellow"));
        break;
    }
}
