fc_add_gtest(test_fft_lsq SOURCES test_fft.cpp test_lfit.cpp LIBS fc_fft_lsq fc_numeric)
fc_add_gtest(test_fft_fast SOURCES test_fft_fast.cpp fft_nd_reference.cpp LIBS fc_fft_lsq fc_numeric)
