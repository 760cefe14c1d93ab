# Two layers, the lower of which includes a header of the upper one.
set(WH_LAYERS wh_base wh_channel)
set(WH_LAYER_wh_base_FOLDERS base)
set(WH_LAYER_wh_base_ALLOWED base)
set(WH_LAYER_wh_channel_FOLDERS channel)
set(WH_LAYER_wh_channel_ALLOWED channel base)
