fc_add_gtest(test_kernels SOURCES test_interp_patch.cpp test_patch_prep.cpp test_corr_peak.cpp test_kernel_chain.cpp LIBS fc_kernels fc_fft_lsq fc_numeric)
