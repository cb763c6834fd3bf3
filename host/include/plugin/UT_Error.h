#pragma once

// Severities of a node's error state. Values from UT_ERROR_ABORT up are errors.
enum UT_ErrorSeverity {
    UT_ERROR_NONE = 0,
    UT_ERROR_MESSAGE = 1,
    UT_ERROR_PROMPT = 2,
    UT_ERROR_WARNING = 3,
    UT_ERROR_ABORT = 4,
    UT_ERROR_FATAL = 5,
};
