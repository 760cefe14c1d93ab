// Built by the bridge core; placeholder so the base library links until then.
