// Selection of the data sample whose counts and statistics are read.
#pragma once

namespace tree {

/// Data sample: 0 is the training sample, 1 the test sample; hosts may define more.
enum DataSample : int { TRAINING_SAMPLE = 0, TEST_SAMPLE = 1 };

}  // namespace tree
