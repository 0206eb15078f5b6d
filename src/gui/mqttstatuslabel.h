#pragma once

#include <QLabel>

class MqttPublisher;

// The window's line about the broker: connected, reconnecting with the queue
// length, or failed with the reason, on a colour like the recording marker's.
class MqttStatusLabel : public QLabel
{
    Q_OBJECT
public:
    // `publisher` must outlive the label or be destroyed with the same window.
    explicit MqttStatusLabel(MqttPublisher *publisher, QWidget *parent = nullptr);

private:
    void refresh();

    MqttPublisher *m_publisher;
};
