fc_add_gtest(test_fft_lsq SOURCES test_fft.cpp fft_nd_reference.cpp test_lfit.cpp LIBS fc_fft_lsq fc_numeric)
