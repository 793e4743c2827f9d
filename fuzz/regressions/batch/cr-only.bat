:ifok :ifng :goto:echo "auto_save_data_name ../x
\
