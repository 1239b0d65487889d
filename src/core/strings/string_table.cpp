#include "core/strings/string_table.h"

#include <algorithm>

namespace qm {

namespace {

const std::unordered_map<int, std::string>& builtinTexts() {
    static const std::unordered_map<int, std::string> texts = {
        // Kind display names
        {1000, "Icon"},
        {1001, "IFS"},
        {1002, "Julia"},
        {1003, "Lorenz"},
        {1004, "Lorenz-84"},
        {1005, "Pickover"},
        {1006, "Polynôme, type A"},
        {1007, "Polynôme, type B"},
        {1008, "Polynôme, type C"},
        {1009, "Polynôme Sprott"},
        {1010, "Unravel"},
        // Kind keywords of the attractor parameter file
        {1400, "icon"},
        {1401, "ifs"},
        {1402, "julia"},
        {1403, "lorenz"},
        {1404, "lorenz_84"},
        {1405, "pickover"},
        {1406, "polynomial_a"},
        {1407, "polynomial_b"},
        {1408, "polynomial_c"},
        {1409, "polynomial_sprott"},
        {1410, "unravel"},
        // Parameter names
        {1801, "Niveau"},
        // Keywords of the attractor parameter file
        {2400, "attractor"},
        {2401, "type"},
        {2402, "matrices"},
        {2403, "order"},
        {2404, "coefficients"},
        {2405, "parameters"},
        // Render modes and their parameters
        {2000, "Gaz"},
        {2001, "Liquide"},
        {2002, "Lumière"},
        {2003, "Plasma"},
        {2004, "Solide"},
        {2050, "Luminosité"},
        {2051, "Gamma"},
        {2052, "Rugosité"},
        {2053, "Opacité"},
        {2054, "Dégr. Vitesse"},
        {2055, "Dégr. Angle"},
        // Document states, as caption suffixes
        {2100, ""},
        {2101, " (recherche)"},
        {2102, " (aperçu)"},
        {2103, " (aucun attracteur)"},
        {2104, " (rendu en cours)"},
        {2105, " (rendu)"},
        {2154, "Paramètres attracteur (*.qmattr)|*.qmattr"},
        // Attractor settings
        {2201, "Itérations"},
        {2202, "Hasard"},
        {2203, "Matrices :"},
        {2204, "Degré :"},
        // Main window
        {3000, "Quillmere 0.2.1"},
        {3001, "&Fichier"},
        {3002, "Aide"},
        {3003, "&Nouveau..."},
        {3004, "Ouvrir..."},
        {3005, "Enregistrer l'&attracteur sous..."},
        {3006, "&Enregistrer l'image sous..."},
        {3007, "&Fermer"},
        {3008, "&Quitter"},
        {3009, "A propos..."},
        {3010, "Enregistrer sous"},
        {3011, "Bitmap 24 bits (*.bmp)|*.bmp"},
        {3012, "PNG (*.png)|*.png"},
        {3013, "i/s :"},
        {3014, "Ouvrir"},
        {3015, "&Langue..."},
        {3020, "Erreur lors de la lecture du fichier"},
        {3021, "« %s » n'a pas l'extension .qmattr : rien n'a été enregistré."},
        {3022, "Impossible d'enregistrer « %s » : %s"},
        {3023, "Une image de %d × %d pixels est refusée : chaque côté va de 16 à 16384 pixels."},
        {3024,
         "Une image de %d × %d pixels est refusée : elle demanderait plus de la moitié de la "
         "mémoire de cet ordinateur."},
        {3025, "Le fichier est illisible ou ne décrit pas un attracteur."},
        {3026, "Le fichier est introuvable ou ne peut pas être ouvert."},
        {3027, "Le fichier dépasse 1 Mio."},
        {3028, "L'écriture a échoué."},
        {3029, "Un paramètre n'est pas un nombre fini."},
        // Document window
        {3100, "&Attracteur"},
        {3101, "&Vue"},
        {3102, "&Rechercher"},
        {3103, "Arrêter Recherche"},
        {3104, "&Démarrer"},
        {3105, "&Arrêter"},
        {3106, "&Ajuster"},
        {3107, "&Centrer"},
        {3108, "Copier"},
        {3109, "Aj&ustement automatique"},
        {3110, "Sans Titre "},
        // "Nouveau" dialog
        {3200, "Nouveau"},
        {3201, "Attracteur"},
        {3202, "&Type :"},
        {3203, "Option :"},
        {3204, "Image"},
        {3205, "&Largeur :"},
        {3206, "&Hauteur :"},
        {3207, "&Rendu :"},
        {3208, "&OK"},
        {3209, "&Annuler"},
        {3210, "'%s' n'est pas une valeur entière correcte"},
        {3211, "La largeur et la hauteur vont de 16 à 16384 pixels."},
        // About box
        {3250, "A propos de Quillmere"},
        {3251, "Quillmere 0.2.1"},
        {3252, "Attracteurs étranges en trois dimensions"},
        {3253, "https://quillmere.org"},
        {3254, "OK"},
        // Palettes
        {2356, "Largeur"},
        {2357, "Hauteur"},
        {2358, "Mises à jour"},
        {2359, "Echelle"},
        {3300, "attracteur"},
        {3301, "vue"},
        {3302, "&Type :"},
        {3303, "Option :"},
        {3304, "&Rendu :"},
        {3305, "FractINT color map (*.map)|*.map"},
        {3306, "Charger un dégradé"},
        {3307, "Le fichier %s ne contient aucune couleur : le dégradé reste tel qu'il était."},
        {3308, "Le fichier %s ne peut pas être lu : le dégradé reste tel qu'il était."},
        // Language dialog
        {3350, "Language selection"},
        {3351, "Select Quillmere interface language:"},
        {3352, "English"},
        {3353, "French"},
        {3354, "&OK"},
        {3355, "&Cancel"},
        {3356,
         "Le choix de la langue n'a pas pu être enregistré dans %s : il ne vaut que jusqu'à la "
         "fermeture du programme."},
        {3357,
         "Le module de langue %s est introuvable ou illisible : l'interface reste en français."},
        // Files that are not regular files, files beyond the readers' caps
        {3400, "Ce n'est pas un fichier ordinaire (dossier, périphérique, tube ou socket)."},
        {3401, "Le fichier a plus de 65536 lignes."},
        {3402, "Le fichier %s donne plus de 4096 couleurs : le dégradé reste tel qu'il était."},
        {3403,
         "%s n'est pas un fichier ordinaire (dossier, périphérique, tube ou socket) : le dégradé "
         "reste tel qu'il était."},
        {3404, "Le fichier %s dépasse 4 Mio ou 262144 lignes : le dégradé reste tel qu'il était."},
        // Where and why a file could not be read
        {3425, "Ligne %d : %s."},
        {3426, "mot-clé inconnu"},
        {3427, "valeur illisible"},
        {3428, "mot-clé répété"},
        {3429, "« { » manque après le nom du bloc"},
        {3430, "le fichier s'arrête trop tôt"},
        {3431, "un mot-clé obligatoire manque"},
        {3432, "caractère nul : ce n'est pas un fichier texte"},
        // An image too large for the memory the program may take
        {3433,
         "Une image de %d × %d pixels est refusée : elle demanderait %s Mio, plus que la moitié "
         "de la mémoire de cet ordinateur (%s Mio)."},
        {3434,
         "Une image de %d × %d pixels est refusée : elle demanderait %s Mio, plus que ne laisse "
         "la limite d'espace d'adressage du programme (ulimit -v) : %s Mio."},
        {3435,
         "Une image de %d × %d pixels est refusée : elle demanderait %s Mio, plus que ne laisse "
         "la limite de données du programme (ulimit -d) : %s Mio."},
        {3436,
         "Une image de %d × %d pixels est refusée : elle demanderait %s Mio, plus que ne laisse "
         "la limite de mémoire du groupe de contrôle du programme : %s Mio."},
        // The parallel render
        {3450, "Fils de calcul"},
        {3451, "Flux"},
        {3452, "Nombre de processeurs qui calculent un rendu ; l'image n'en dépend pas"},
        {3453, "Nombre d'orbites indépendantes d'un rendu (1 : le rendu classique d'une seule orbite)"},
        // Saved and autosaved renders
        {3475, "Reprendre un rendu..."},
        {3476, "Continuer un rendu enregistré (.qmrender) là où il s'était arrêté"},
        {3477, "État de rendu (*.qmrender)|*.qmrender"},
        {3478,
         "Un rendu a été interrompu avant sa fin (dernier état enregistré : %s). Voulez-vous le "
         "reprendre ?"},
        {3479, "Reprendre"},
        {3480, "Ignorer"},
        {3481, "Plus tard"},
        {3482, "Le rendu enregistré dans\n\n%s\n\nne peut pas être repris : %s"},
        {3483,
         "Un rendu est déjà en cours : arrêtez-le (F5) ou attendez sa fin avant d'en reprendre un "
         "autre."},
        {3484, "le fichier ne peut pas être ouvert."},
        {3485, "ce n'est pas un fichier d'état de rendu."},
        {3486,
         "c'est un état de rendu au format version %s, que ce programme ne lit pas (il lit la "
         "version %s)."},
        {3487, "le fichier est tronqué."},
        {3488, "le fichier est endommagé (une somme de contrôle ou une taille ne correspond pas)."},
        {3489,
         "l'état de rendu demande %s Mio de mémoire, plus que cette machine n'en a de libre."},
        {3490, "la lecture du fichier a échoué."},
        {3491, "l'image du rendu ne tiendrait pas dans la mémoire libre de cette machine."},
        {3492, "ses réglages, son attracteur, ses tampons ou ses flux sont incohérents."},
        {3493, "Sauvegarde auto (min)"},
        {3494,
         "Minutes entre deux sauvegardes de l'état d'un rendu en cours, pour le reprendre après un "
         "arrêt imprévu (0 : aucune)"},
        {3495, "La sauvegarde automatique du rendu a échoué : %s"},
        {3496, "Le fichier a été mis de côté sous le nom\n\n%s"},
        {3497,
         "il a été écrit par une version antérieure, dont ce programme ne poursuit pas les rendus "
         "Gaz à plusieurs flux ; relancez le rendu."},
        // Scenes
        {3500, "Enregistrer la &scène sous..."},
        {3501, "Scène Quillmere (*.qmscene)|*.qmscene"},
        {3502, "Attracteurs, scènes et images|*.qmattr *.qmscene *.png"},
        {3503, "PNG 16 bits par canal (*.png)|*.png"},
        {3504, "« %s » n'a pas l'extension .qmscene : rien n'a été enregistré."},
        {3505, "Ligne %d : le texte n'est pas celui d'une scène, ou une valeur sort de ses limites."},
        {3506, "La scène vient d'une version plus récente de Quillmere (ligne %d)."},
        {3507, "L'image ne contient pas de scène Quillmere."},
        {3508, "Une valeur de la scène n'est pas un nombre fini."},
        {3510, "Le rendu sera perdu. Continuer ?"},
        {3511, "Continuer"},
        {3512, "Le rendu de « %s » n'a pas été enregistré."},
        {3513, "La scène de « %s » a changé depuis son dernier enregistrement."},
        {3514, "Enregistrer..."},
        {3515, "Ne pas enregistrer"},
        {3516, "Annuler"},
        {3520, "&Taille réelle"},
        {3521,
         "Montrer l'image à 100 % avec des barres de défilement, au lieu de l'image entière "
         "réduite à la fenêtre"},
        // Undo, redo and history
        {3560, "&Edition"},
        {3561, "Annuler"},
        {3562, "Annuler %s"},
        {3563, "Rétablir"},
        {3564, "Rétablir %s"},
        {3565, "&Historique"},
        {3566, "Revient à l'état du document avant sa dernière modification"},
        {3567, "Refait la dernière modification annulée"},
        {3568,
         "Liste les modifications du document actif ; un clic sur l'une d'elles y ramène le "
         "document"},
        {3569, "Historique"},
        {3570, "Début"},
        {3571, "Paramètre"},
        {3572, "Type d'attracteur"},
        {3573, "Option"},
        {3574, "Itérations"},
        {3575, "Recherche"},
        {3576, "Rotation"},
        {3577, "Déplacement"},
        {3578, "Zoom"},
        {3579, "Ajustement"},
        {3580, "Centrage"},
        {3581, "Mode de rendu"},
        {3582, "Réglage du rendu"},
        {3583, "Palette de couleurs"},
        {3584, "Taille de l'image"},
        {3585, "Mises à jour"},
        {3586, "Ouverture"},
        {3590, "Étapes du document"},
        // The first hour: refusals, hint, tooltips, accessible names, toolkit texts
        {3600,
         "« %s » ne peut pas être fermé pendant une recherche ou un rendu : arrêtez d'abord la "
         "recherche (Maj+F3) ou le rendu (F5)."},
        {3601,
         "Quillmere ne peut pas se fermer pendant que « %s » recherche ou rend une image : arrêtez "
         "d'abord la recherche (Maj+F3) ou le rendu (F5)."},
        {3602, "F3 : rechercher un attracteur"},
        {3603, ","},
        {3604, "Fixé pendant la recherche"},
        {3610, "Nouveau document : type d'attracteur, taille de l'image et mode de rendu"},
        {3611,
         "Lire un attracteur (.qmattr), une scène (.qmscene) ou une image PNG qui contient sa "
         "scène"},
        {3612, "Écrire les paramètres de l'attracteur dans un fichier .qmattr"},
        {3613, "Écrire l'image en BMP 24 bits ou en PNG"},
        {3614, "Fermer le document actif"},
        {3615, "Quitter Quillmere"},
        {3616, "Choisir la langue de l'interface"},
        {3617, "Version et adresse du programme"},
        {3618, "Tirer des paramètres au hasard jusqu'à trouver un attracteur chaotique"},
        {3619, "Arrêter la recherche et revenir à l'état d'avant"},
        {3620, "Rendre l'image : autant de points que d'« Itérations »"},
        {3621, "Arrêter le rendu en gardant l'image obtenue"},
        {3622, "Cadrer la vue sur tout l'attracteur"},
        {3623, "Centrer la vue sur l'attracteur sans changer l'échelle"},
        {3624, "Copier l'image dans le presse-papiers"},
        {3625, "Cadrer la vue après chaque recherche et chaque fichier ouvert"},
        {3630, "Type d'attracteur du document"},
        {3631, "Nombre de matrices (IFS) ou degré du polynôme (Sprott)"},
        {3632, "Nombre de points calculés par un rendu"},
        {3633, "Jusqu'où une recherche peut déplacer les paramètres, en pour cent"},
        {3634, "Paramètre de l'attracteur : s'applique aussitôt, l'aperçu recommence"},
        {3635, "Degré : ordre de symétrie de l'icône"},
        {3636, "Mode de rendu de l'image"},
        {3637, "Largeur de l'image en pixels (16 à 16384)"},
        {3638, "Hauteur de l'image en pixels (16 à 16384)"},
        {3639, "Nombre d'affichages de l'image pendant un rendu"},
        {3640, "Échelle de la vue ; la molette et Ctrl+glisser la changent aussi"},
        {3641, "Luminosité de l'image rendue"},
        {3642, "Correction gamma de l'image rendue"},
        {3643, "Opacité des points du rendu Solide"},
        {3644, "Rugosité de la surface du rendu Solide"},
        {3645, "Couleurs selon la vitesse ; double-clic : charger un fichier .map"},
        {3646, "Couleurs selon l'angle ; double-clic : charger un fichier .map"},
        {3650, "Activité"},
        {3651, "Progression du rendu"},
        {3652, "Vitesse"},
        {3653, "Temps"},
        {3654, "Barre d'état"},
        {3655, "Image de l'attracteur"},
        {3657, "coché"},
        {3658, "non coché"},
        {3670, "Dossier"},
        {3671, "Lecteur"},
        {3672, "Raccourci"},
        {3673, "Inconnu"},
        {3674, "Fichier"},
        {3675, "Fichier %s"},
        // Discovery window
        {3800, "Découverte..."},
        {3801, "Découverte"},
        {3802, "toutes"},
        {3803, "Démarrer"},
        {3804, "Arrêter"},
        {3805, "Trier par :"},
        {3806, "ordre de découverte"},
        {3807, "exposant de Lyapunov"},
        {3808, "dimension"},
        {3809, "score"},
        {3810, "Type :"},
        {3811, "%u trouvés, %u essais"},
        {3812, "Chercher des attracteurs sur tous les cœurs et les montrer en vignettes"},
        {3813, "Plus comme celui-ci"},
        {3814, "Chercher des attracteurs voisins de la découverte choisie et les montrer à côté d'elle"},
        {3815, "Hasard :"},
        {3816, "Jusqu'où « Plus comme celui-ci » peut s'écarter de la découverte, en pour cent"},
        {3817, "★ Favori"},
        {3818, "Enregistrer la découverte choisie dans le dossier des favoris"},
        {3819, "Découvertes"},
        {3820, "Favoris"},
        {3821, "Exemples"},
        {3822, "Rendu :"},
        {3823, "Afficher :"},
        {3824, "Score minimal :"},
        {3825, "Dimension :"},
        {3826, "à"},
        {3827, "Dossier..."},
        {3828, "Dossier des favoris : %s"},
        {3829, "Choisir le dossier des favoris"},
        {3830, "Impossible d'enregistrer le favori dans le dossier\n%s\n%s\n\nLa découverte reste dans la grille."},
        {3831, "Ouvrir"},
        {3832, "Exposition fixe"},
        {3833, "Cochée, l'image est développée contre ce pic fixe (celui de l'animation dont vient "
               "la scène) ; décochée, contre son propre pic"},
        {3834, "Enregistrer la vignette"},
        {3835, "Impossible d'enregistrer la vignette\n%s\n%s"},
        // Point clouds
        {3950, "Exporter le nuage de points..."},
        {3951, "Écrire les points de l'orbite, dans leurs couleurs, en fichier PLY pour les logiciels 3D"},
        {3952, "Nuage de points PLY (*.ply)|*.ply"},
        {3953, "Export du nuage de points %s..."},
        {3954, "Arrêter"},
        {3955, "L'attracteur diverge après %u itérations : aucun nuage de points n'a été écrit."},
        {3956, "Nuage de points"},
        {3957, "Points :"},
        {3958, "Format texte (ASCII), plus lent et plus gros"},
        {3959, "Les premiers points de l'orbite du rendu, de 1 à 100 000 000"},
        // Animation dialog
        {3960, "Animation..."},
        {3961, "Faire tourner l'attracteur ou voyager entre des scènes, image par image"},
        {3962, "Animation"},
        {3963, "Tour complet"},
        {3964, "Voyage entre scènes"},
        {3965, "Images :"},
        {3966, "Degrés :"},
        {3967, "Axe :"},
        {3968, "vertical de l'image"},
        {3969, "Transition :"},
        {3970, "régulière"},
        {3971, "douce aux images clés"},
        {3972, "Ajouter la vue courante"},
        {3973, "Ajouter une scène..."},
        {3974, "Retirer"},
        {3975, "Exposition fixe (sans scintillement)"},
        {3976, "Dossier :"},
        {3977, "Choisir..."},
        {3978, "Aperçu"},
        {3979, "Arrêter l'aperçu"},
        {3980, "Rendre les images"},
        {3981, "Arrêter"},
        {3982, "Image %u sur %u"},
        {3983, "Exposition : image %u (%u sur %u)"},
        {3984, "Total :"},
        {3985, "Image :"},
        {3986, "%u images écrites dans %s"},
        {3987, "Images où l'attracteur diverge (noires) : %s"},
        {3988, "%s n'est pas l'image %u de cette animation : retirez-la ou choisissez un autre dossier."},
        {3989, "Un voyage demande au moins deux images clés."},
        {3990, "Les images clés d'un voyage doivent avoir le même type d'attracteur, le même mode de rendu et la même taille d'image."},
        {3991, "L'attracteur de %s diverge : la scène ne peut pas servir d'image clé."},
        {3992, "Écrit frame-0000.png, frame-0001.png... (PNG avec leur scène) ; les images déjà écrites de cette animation sont gardées"},
        {3993, "Images clés :"},
        {3994, "vue courante"},
        {3995, "Arrêté : %u images sur %u écrites ; « Rendre les images » reprend à la première manquante."},
        {3996, "Dossier des images"},
        {3997, "Fermer"},
        {3998, "Mouvement"},
        {3999, "Rendu"},
        // Render progress
        {2500, "Plus d'attracteur après %u itérations"},
        {2501, "i/s : "},
        {2502, "temps restant : "},
        {2503, "temps total : "},
    };
    return texts;
}

const std::string& emptyText() {
    static const std::string empty;
    return empty;
}

}  // namespace

StringTable::StringTable() {
    tables_.push_back(std::make_unique<const Texts>());
    current_.store(tables_.back().get(), std::memory_order_release);
}

const std::string& StringTable::builtinText(int id) {
    const auto& texts = builtinTexts();
    const auto it = texts.find(id);
    return it != texts.end() ? it->second : emptyText();
}

bool StringTable::hasBuiltinText(int id) { return builtinTexts().contains(id); }

std::vector<int> StringTable::builtinIds() {
    std::vector<int> ids;
    ids.reserve(builtinTexts().size());
    for (const auto& [id, text] : builtinTexts()) ids.push_back(id);
    std::sort(ids.begin(), ids.end());
    return ids;
}

bool StringTable::isFileKeyword(int id) {
    return (id >= TextId::kKindKeywordFirst && id <= TextId::kKindKeywordLast) ||
           (id >= TextId::kFileAttractor && id <= TextId::kFileParameters);
}

const std::string& StringTable::text(int id) const {
    const Texts& overrides = *current_.load(std::memory_order_acquire);
    if (const auto it = overrides.find(id); it != overrides.end()) return it->second;
    return builtinText(id);
}

void StringTable::setOverrides(Texts overrides) {
    std::erase_if(overrides, [](const auto& entry) {
        return isFileKeyword(entry.first) && entry.second != builtinText(entry.first);
    });
    const std::lock_guard lock(changing_);
    tables_.push_back(std::make_unique<const Texts>(std::move(overrides)));
    current_.store(tables_.back().get(), std::memory_order_release);
}

StringTable& strings() {
    static StringTable table;
    return table;
}

}  // namespace qm
