#ifndef APP_TOLVAR_GPIO_TEST_H
#define APP_TOLVAR_GPIO_TEST_H

// The program's main routine: drives GPIO33 and GPIO80 through every 2-bit
// pattern, then samples them as inputs, tracing each step on the debug
// output. The arguments are the application entry's and are not read.
// Returns 0 after a run that exercised the lines, 1 when the driver could not
// be created or could not map its registers.
int TolvarGPIOTest(void* instance, void* previousInstance, wchar_t* commandLine, int showCommand);

#endif  // APP_TOLVAR_GPIO_TEST_H
