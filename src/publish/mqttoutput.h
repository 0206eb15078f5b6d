#pragma once

#include "model/outputentry.h"

// Publishing to an MQTT broker as a registered output: the window's
// publisher from the "Mqtt/..." settings (its state in the status bar), or
// orvexctl's from --mqtt and its options, which at the end of the run waits
// for the broker and says what stayed queued.
namespace MqttOutput {

OutputEntry entry();

// orvexctl's exit codes of a run whose readings did not reach the broker.
const int kRefused = 3;     // the broker refused the credentials or TLS failed
const int kUnreached = 4;   // never reached during the run
const int kUndelivered = 5; // readings left queued, or lost

} // namespace MqttOutput
